#include "samplesite.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("samplesite"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Site de exemplo do bureau de crédito, em 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Porta (0 = qualquer livre)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("Usuário aceito."),
                                        QStringLiteral("usuario"), QStringLiteral("demo"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QStringLiteral("Senha aceita."),
                                            QStringLiteral("senha"), QStringLiteral("demo123"));
    const QCommandLineOption heightOption(QStringLiteral("report-height"), QStringLiteral("Altura do relatório em px."),
                                          QStringLiteral("PX"), QStringLiteral("6000"));
    parser.addOptions({portOption, userOption, passwordOption, heightOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    bool heightOk = false;
    const int height = parser.value(heightOption).toInt(&heightOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "samplesite: porta inválida: %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }
    if (!heightOk || height < 1) {
        std::fprintf(stderr, "samplesite: altura inválida: %s\n", qPrintable(parser.value(heightOption)));
        return 2;
    }

    SampleSite site;
    site.setCredentials(parser.value(userOption), parser.value(passwordOption));
    site.setReportHeight(height);
    if (!site.listen(quint16(port))) {
        std::fprintf(stderr, "samplesite: não foi possível escutar em 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("samplesite listening on http://127.0.0.1:%u/\n", unsigned(site.port()));
    std::fflush(stdout);
    return app.exec();
}
