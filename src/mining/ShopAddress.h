#pragma once

#include <QString>

// Whether a shop address given by hand may be mined: an http:// or https:// address whose host
// is the configured marketplace domain or a name under it. Any thread.
namespace shopaddress {

// Empty when the address may be mined; otherwise why not, in a few words.
QString problem(const QString& url, const QString& domain);

} // namespace shopaddress
