#include "browser/CsvExportWriter.h"

#include "text/GbkCodec.h"

#include <QDir>
#include <QSaveFile>
#include <sqlite3.h>

namespace {

using exportlayout::Kind;
using exportlayout::Record;

class CsvWriter : public TExportWriter
{
public:
    CsvWriter(Kind kind, QString snapHost)
        : m_kind(kind), m_snapHost(std::move(snapHost)), m_snapHostUtf8(m_snapHost.toStdString())
    {
        const QStringList& columns = exportlayout::recordColumns(kind);
        // Statement columns: the id first, then the record's.
        auto at = [&](const char* name) {
            return 1 + static_cast<int>(columns.indexOf(QLatin1String(name)));
        };
        m_pj = at("pj");
        m_pjName = at("pjName");
        m_buyer = at("buyerOrSaler");
        m_jg = at("jg");
        m_pjsj = at("pjsj");
        m_itemTitle = at("itemTitle");
        m_pjInfo = at("pjInfo");
        m_pjjs = at("pjjs");
        m_trade = at("trade_id");
        m_itemId = at("itemId");
    }

    bool open(const QString& target, QString* error) override
    {
        m_file.setFileName(target);
        // Unbuffered: the rows go out in large pieces anyway, and a failed write is told by the
        // write itself rather than by a later flush whose reason is lost.
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return failed(error);
        m_chunk = (exportlayout::csvHeader(m_kind) + QStringLiteral("\r\n")).toStdString();
        return true;
    }

    void prepare(const Record& record, TExportPrepared& out) const override
    {
        out.line = exportlayout::csvLine(record, m_snapHost).toStdString();
    }

    // csvLine() of a rating on the stored UTF-8 itself, for texts held as texts, a price as a
    // number, a time in the stored form and a boolean as 0 or 1; anything else (and a link
    // that would need trimming) goes the general way. About twice as fast: the export's text
    // never becomes UTF-16 and back.
    bool prepareRaw(sqlite3_stmt* st, TExportPrepared& out) const override
    {
        if (m_kind != Kind::Ratings)
            return false;
        std::string& line = out.line;
        line.clear();
        for (int c : {m_pj, m_pjName}) {
            if (!cleanText(st, c, line))
                return false;
            line += ',';
        }
        switch (sqlite3_column_type(st, m_buyer)) {
        case SQLITE_NULL:
            break;
        case SQLITE_INTEGER:
            line += sqlite3_column_int64(st, m_buyer) != 0 ? "True" : "False";
            break;
        default:
            return false;
        }
        line += ',';
        switch (sqlite3_column_type(st, m_jg)) {
        case SQLITE_NULL:
            break;
        case SQLITE_FLOAT:
            exportlayout::appendNumber15(line, sqlite3_column_double(st, m_jg));
            break;
        default:
            return false;
        }
        line += ',';
        if (sqlite3_column_type(st, m_pjsj) == SQLITE_TEXT) {
            const std::string_view t = textOf(st, m_pjsj);
            if (!storedForm(t))
                return false;
            // The display form: the hour without its leading zero, the blank removed by the
            // cleaning.
            line.append(t.substr(0, 10));
            line.append(t[11] == '0' ? t.substr(12) : t.substr(11));
        } else if (sqlite3_column_type(st, m_pjsj) != SQLITE_NULL) {
            return false;
        }
        line += ',';
        for (int c : {m_itemTitle, m_pjInfo, m_pjjs}) {
            if (!cleanText(st, c, line))
                return false;
            line += ',';
        }
        const int tradeType = sqlite3_column_type(st, m_trade);
        if (tradeType == SQLITE_NULL) {
            line += QString::fromUtf16(exportlayout::kNoLink).toStdString();
            return true;
        }
        const int itemType = sqlite3_column_type(st, m_itemId);
        if (tradeType != SQLITE_TEXT || (itemType != SQLITE_TEXT && itemType != SQLITE_NULL))
            return false;
        const size_t start = line.size();
        line += m_snapHostUtf8;
        line += "/auction/snap_detail.htm?trade_id=";
        line += textOf(st, m_trade);
        line += "&auction_id=";
        if (itemType == SQLITE_TEXT)
            line += textOf(st, m_itemId);
        // The link is trimmed: only one that starts and ends with a visible ASCII character
        // is sure to need nothing cut.
        const auto first = static_cast<unsigned char>(line[start]);
        const auto last = static_cast<unsigned char>(line.back());
        return first > 0x20 && first < 0x7F && last > 0x20 && last < 0x7F;
    }

    bool write(const TExportPrepared& row, QString* error) override
    {
        m_chunk += row.line;
        m_chunk += "\r\n";
        // Converted and written in pieces: one conversion per line costs more than the rest.
        return m_chunk.size() < kChunk || flush(error);
    }

    bool commit(QString* error) override
    {
        if (!flush(error))
            return false;
        return m_file.commit() || failed(error);
    }

private:
    static constexpr size_t kChunk = 512 * 1024;

    static std::string_view textOf(sqlite3_stmt* st, int c)
    {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        return std::string_view(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, c)));
    }

    static bool storedForm(std::string_view t)
    {
        static constexpr char kShape[] = "0000-00-00 00:00:00";
        if (t.size() != 19)
            return false;
        for (size_t i = 0; i < 19; ++i)
            if (kShape[i] == '0' ? (t[i] < '0' || t[i] > '9') : t[i] != kShape[i])
                return false;
        return true;
    }

    // cleanCsvField() on UTF-8: every "," becomes "、", every white-space character goes;
    // false for a value that is not a text or not valid UTF-8.
    static bool cleanText(sqlite3_stmt* st, int c, std::string& out)
    {
        const int type = sqlite3_column_type(st, c);
        if (type == SQLITE_NULL)
            return true;
        if (type != SQLITE_TEXT)
            return false;
        const std::string_view t = textOf(st, c);
        const auto* p = reinterpret_cast<const unsigned char*>(t.data());
        const auto* end = p + t.size();
        while (p < end) {
            const unsigned char b = *p;
            if (b < 0x80) {
                // A run of ASCII that stays as it is, in one append.
                const auto* run = p;
                while (p < end && *p < 0x80 && *p != ',' && !asciiSpace(*p))
                    ++p;
                if (p > run) {
                    out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
                    continue;
                }
                if (b == ',')
                    out += "\xE3\x80\x81"; // 、
                ++p;
                continue;
            }
            char32_t cp = 0;
            const int n = exportlayout::utf8Sequence(p, end, &cp);
            if (n == 0)
                return false;
            if (!wideSpace(cp))
                out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
            p += n;
        }
        return true;
    }

    // QChar::isSpace() of ASCII, and of the rest without its table lookup for the characters
    // that are never white space (no separator lies above U+3000, none between U+00A0 and
    // U+1680): most Chinese text never reaches the table.
    static bool asciiSpace(unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }
    static bool wideSpace(char32_t cp)
    {
        if (cp < 0x1680)
            return cp == 0x85 || cp == 0xA0;
        return cp <= 0x3000 && QChar::isSpace(cp);
    }

    bool flush(QString* error)
    {
        if (m_chunk.empty())
            return true;
        const std::string bytes = gbk::fromUtf8(m_chunk);
        m_chunk.clear();
        // A write cut short by a full disk or a size limit tells its reason only when the rest
        // is tried again.
        for (qint64 done = 0; done < static_cast<qint64>(bytes.size());) {
            const qint64 n = m_file.write(bytes.data() + done, static_cast<qint64>(bytes.size()) - done);
            if (n <= 0)
                return failed(error);
            done += n;
        }
        return true;
    }

    // "file: reason"; false.
    bool failed(QString* error) const
    {
        *error =
            QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_file.fileName()), m_file.errorString());
        return false;
    }

    Kind m_kind;
    QString m_snapHost;
    std::string m_snapHostUtf8;
    int m_pj = 0, m_pjName = 0, m_buyer = 0, m_jg = 0, m_pjsj = 0, m_itemTitle = 0, m_pjInfo = 0, m_pjjs = 0,
        m_trade = 0, m_itemId = 0;
    QSaveFile m_file;
    std::string m_chunk;
};

} // namespace

std::unique_ptr<TExportWriter> newCsvExportWriter(exportlayout::Kind kind, const QString& snapHost)
{
    return std::make_unique<CsvWriter>(kind, snapHost);
}
