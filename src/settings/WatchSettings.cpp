#include "settings/WatchSettings.h"

#include "settings/IniFile.h"

#include <QRegularExpression>

namespace {

template <typename T>
void take(const IniFile& ini, const char* key, bool percent, std::optional<T>& out, QStringList* problems)
{
    const QString raw = ini.value(QStringLiteral("Watch"), QLatin1String(key)).trimmed();
    if (raw.isEmpty())
        return;
    static const QRegularExpression whole(QStringLiteral("^\\d{1,12}$"));
    static const QRegularExpression share(QStringLiteral("^(\\d{1,12}(?:\\.\\d+)?)\\s*%?$"));
    const QRegularExpressionMatch m = (percent ? share : whole).match(raw);
    if (m.hasMatch()) {
        if constexpr (std::is_same_v<T, double>)
            out = m.captured(1).toDouble();
        else
            out = raw.toLongLong();
        return;
    }
    if (problems)
        *problems << QStringLiteral("[Watch] %1=%2 is not %3; the rule is off")
                         .arg(QLatin1String(key), raw,
                              percent ? QStringLiteral("a percentage") : QStringLiteral("a whole number"));
}

} // namespace

WatchSettings WatchSettings::read(const QString& configPath, QStringList* problems)
{
    WatchSettings w;
    IniFile ini(configPath);
    if (!ini.load() || !ini.understood())
        return w;
    take(ini, "BadRatings", false, w.BadRatings, problems);
    take(ini, "SalesChangePercent", true, w.SalesChangePercent, problems);
    take(ini, "CreditDrop", false, w.CreditDrop, problems);
    take(ini, "GoodRateDrop", true, w.GoodRateDrop, problems);
    return w;
}
