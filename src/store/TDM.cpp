#include "store/TDM.h"

#include "store/DatabaseChoice.h"
#include "store/Schema.h"

#include <QDir>
#include <QHash>

namespace {
const char kDesignText[] = "select top 5 dian_id,itemId,sum(jg) as totalAmount from pjinfo group by "
                           "dian_id,itemId order by sum(jg) desc";
} // namespace

TDM::TDM(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("DM"));
    tb_dianbase = new TTable(&adoCn, QStringLiteral("tb_dianbase"), QStringLiteral("dianBaseSort"),
                             schema::dianBaseColumns(), this);
    tb_pjinfo = new TTable(&adoCn, QStringLiteral("tb_pjinfo"), QStringLiteral("pjInfo"),
                           schema::pjInfoColumns(), this);
    pj_fx1 = new TQuery(&adoCn, QStringLiteral("pj_fx1"), this);
    pj_fx1->SetSQL(QStringLiteral("select* from pjinfo "));
    pj_fx1_detail = newRankDetail(this);
    pj_fx2 = new TQuery(&adoCn, QStringLiteral("pj_fx2"), this);
    pj_fx2->SetSQL(QString::fromLatin1(kDesignText));
    pj_fx3 = new TQuery(&adoCn, QStringLiteral("pj_fx3"), this);
    pj_fx3->SetSQL(QString::fromLatin1(kDesignText));
    ADOQuery1 = new TQuery(&adoCn, QStringLiteral("ADOQuery1"), this);
    ADOQuery2 = new TQuery(&adoCn, QStringLiteral("ADOQuery2"), this);
    adoq1 = new TQuery(&adoCn, QStringLiteral("adoq1"), this);
}

TTable* TDM::newRankDetail(QObject* parent)
{
    auto* detail = new TTable(&adoCn, QStringLiteral("pj_fx1_detail"), QStringLiteral("pjInfo"),
                              schema::pjInfoColumns(), parent);
    detail->SetSort(QStringLiteral("dian_id, itemId"));
    detail->SetMaster(pj_fx1, QStringLiteral("dian_id;itemId"));
    // Long comments are cut in the ranking's detail grid only.
    detail->SetDisplayByteLimit({QStringLiteral("pjInfo"), QStringLiteral("pjjs")}, 100);
    return detail;
}

TDM::~TDM()
{
    // Cursors hold statements on the connection; they go first.
    qDeleteAll(findChildren<TCursor*>(Qt::FindDirectChildrenOnly));
}

bool TDM::DataModuleCreate(const QString& databasePath)
{
    m_openError.clear();
    if (!adoCn.open(databasePath)) {
        m_openError = adoCn.error();
        return false;
    }
    return true;
}

QString TDM::OpenNotice(const QStringList& builtBefore) const
{
    if (!adoCn.isOpen())
        return {};
    // "table pjInfo" -> "表 pjInfo"
    auto named = [](const QStringList& pieces) {
        static const QHash<QString, QString> kinds{{QStringLiteral("table"), QStringLiteral("表")},
                                                   {QStringLiteral("view"), QStringLiteral("视图")},
                                                   {QStringLiteral("trigger"), QStringLiteral("触发器")},
                                                   {QStringLiteral("index"), QStringLiteral("索引")},
                                                   {QStringLiteral("column"), QStringLiteral("列")}};
        QStringList out;
        for (const QString& piece : pieces) {
            const QString kind = piece.section(u' ', 0, 0);
            out << kinds.value(kind, kind) + u' ' + piece.section(u' ', 1);
        }
        return out.join(QStringLiteral("、"));
    };
    const QString file = QDir::toNativeSeparators(adoCn.path());
    if (adoCn.readOnly()) {
        QString text = QStringLiteral("数据库文件 %1 是只读的，不能保存数据").arg(file);
        if (!adoCn.unmended().isEmpty())
            text += QStringLiteral("；缺少的%1 无法补建").arg(named(adoCn.unmended()));
        return text + QStringLiteral("。");
    }
    if (adoCn.engine() == TConnection::Engine::Postgres && !adoCn.unmended().isEmpty())
        return QStringLiteral("服务器数据库 %1 缺少的%2 当前用户无权补建，按现有结构使用。")
            .arg(databasechoice::shown(adoCn.path()), named(adoCn.unmended()));
    const QStringList mended = builtBefore + adoCn.mended();
    if (!mended.isEmpty())
        return QStringLiteral("数据库文件 %1 缺少的%2 已补建，原有数据未改动。").arg(file, named(mended));
    return {};
}

std::unique_ptr<TConnection> TDM::OpenSecondConnection(QString* error) const
{
    auto connection = std::make_unique<TConnection>();
    if (!connection->open(adoCn.path())) {
        if (error)
            *error = connection->error();
        return nullptr;
    }
    return connection;
}
