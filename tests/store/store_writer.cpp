// Stores one JPEG file as a client's query a number of times, as the tool
// does, so that tests can race two real processes on one database.
//   store_writer <dbengine.ini> <alias> <filial> <cod_clifor> <jpeg> <count>

#include "dbengine.h"
#include "queryarchive.h"
#include "table.h"
#include "tervikschema.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 7) {
        err << "usage: store_writer <dbengine.ini> <alias> <filial> <cod_clifor> <jpeg> <count>\n";
        return 2;
    }
    DbEngine::setConfigFile(args.at(1));
    try {
        QObject owner;
        Table *clifor = makeCliforTable(&owner);
        Table *archive = makeArchiveTable(clifor, &owner);
        clifor->setDatabaseName(args.at(2));
        archive->setDatabaseName(args.at(2));
        clifor->open();
        archive->open();
        if (!clifor->findKey({args.at(3), args.at(4)})) {
            err << "cliente " << args.at(3) << "/" << args.at(4) << " não encontrado\n";
            return 1;
        }
        QueryArchive queries(archive, clifor);
        const int count = args.at(6).toInt();
        for (int i = 0; i < count; ++i)
            queries.store(args.at(5));
    } catch (const AppError &e) {
        err << e.message() << '\n';
        return 1;
    }
    return 0;
}
