#pragma once

#include "settings/TConfig.h"

#include <QString>
#include <optional>

// Reading and writing the configuration file (config.ini). UI thread only.
namespace settings {

// The one message shown when the configuration file cannot be used; the program then ends.
inline constexpr char16_t kFatalMessage[] = u"配置文件出错，系统将退出！";

// Creates the file with its defaults when missing, then reads the proxy settings and the
// marketplace hosts. Nothing on any error (unreadable, unwritable, non-numeric AgentType or
// Port); error then tells why. A file that is not a settings file at all (binary, or text
// without a section header) gives the defaults, with notice set to the text to tell the user
// once; the file is then never written.
std::optional<TConfig> load(const QString& path, QString* error = nullptr, QString* notice = nullptr);

// [Database] Url of the file as it stands, blanks trimmed; empty when the key or the file is
// missing, or the file is not a settings file (its defaults are in force). Nothing, with
// error, when the file is there but cannot be read: which database was asked for is then
// not known. Creates nothing.
std::optional<QString> databaseUrl(const QString& path, QString* error = nullptr);

// The notice of a configuration file that was not understood.
QString notUnderstoodNotice(const QString& path);

// Stores the proxy settings (options dialog). False with error when the file cannot be read
// or written, or is not a settings file; the file then keeps what it held, and the caller
// keeps the settings in force.
bool saveAgent(const QString& path, const THttpAgent& agent, QString* error = nullptr);

// Stores the download settings of [Net] (Connections, Retries, RetryDelay, PageDelay) the same
// way, in one write with the proxy settings when both are given.
bool saveNet(const QString& path, const THttpAgent& agent, const NetSettings& net, QString* error = nullptr);

// Writes Login/date = now (at every exit); a file that is not a settings file is left alone.
bool writeLoginDate(const QString& path, QString* error = nullptr);

} // namespace settings
