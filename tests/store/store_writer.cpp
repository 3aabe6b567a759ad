// Stores one JPEG file as a client's query a number of times, as the tool
// does, so that tests can race two real processes on one database.
//   store_writer <dbengine.ini> <filial> <cod_clifor> <jpeg> <count>

#include "clientlookup.h"
#include "dbengine.h"
#include "queryarchive.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    // Its standard error carries failures only: the tool's info lines stay off.
    QLoggingCategory::setFilterRules(QStringLiteral("devezozuvor.*.info=false"));
    if (args.size() != 6) {
        err << "usage: store_writer <dbengine.ini> <filial> <cod_clifor> <jpeg> <count>\n";
        return 2;
    }
    qputenv("DEVEZOZUVOR_DBENGINE_INI", args.at(1).toLocal8Bit());
    try {
        const std::optional<Client> client = findClient(args.at(2).toInt(), args.at(3).toInt());
        if (!client)
            throw AppError(QStringLiteral("cliente %1/%2 não encontrado").arg(args.at(2), args.at(3)));
        QueryArchive archive(*client);
        const std::atomic<bool> notAbandoned{false};
        for (int i = 0; i < args.at(5).toInt(); ++i)
            archive.store(args.at(4), notAbandoned);
    } catch (const AppError &e) {
        err << e.message() << '\n';
        return 1;
    }
    return 0;
}
