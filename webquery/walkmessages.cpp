#include "walkmessages.h"

namespace WalkMessages {

QString noAnswer(const QString &step, int seconds)
{
    return QStringLiteral("O site da Equifax não respondeu em %1 s (%2). A consulta foi interrompida e nada foi "
                          "gravado; tente de novo mais tarde")
        .arg(seconds)
        .arg(step);
}

QString unknownPage(const QString &step, const QString &address, const QString &title, int seconds)
{
    return QStringLiteral("O site da Equifax mostrou uma página que a ferramenta não espera (%1): %2, com o título "
                          "\"%3\". Pode ser um aviso do site ou um parâmetro de endereço que não confere mais com o "
                          "site. A consulta foi interrompida após %4 s e nada foi gravado")
        .arg(step, address, title.isEmpty() ? QStringLiteral("sem título") : title)
        .arg(seconds);
}

QString windowWithoutPage(const QString &address, const QString &step, int seconds)
{
    return QStringLiteral("O site da Equifax abriu uma nova janela (%1), que não mostrou em %2 s a página esperada "
                          "(%3). A consulta foi interrompida e nada foi gravado; confira a janela no navegador")
        .arg(address)
        .arg(seconds)
        .arg(step);
}

QString sessionExpired(bool cnpjSent)
{
    return QStringLiteral("O site da Equifax pediu o login de novo depois de tê-lo aceitado, provavelmente porque a "
                          "sessão expirou. %1")
        .arg(cnpjSent ? QStringLiteral("O CNPJ já tinha sido enviado: a consulta pode ter sido cobrada, mas nada foi "
                                       "gravado. Confira no site antes de consultar de novo")
                      : QStringLiteral("O CNPJ ainda não tinha sido enviado, e nada foi gravado; clique em Consultar "
                                       "CNPJ para tentar de novo"));
}

QString loginRefused()
{
    return QStringLiteral("O site da Equifax recusou o login: a página de login voltou depois de enviados o usuário e "
                          "a senha. Confira os parâmetros de acesso antes de consultar de novo");
}

QString cnpjPageAgain()
{
    return QStringLiteral("O site da Equifax voltou à página de consulta depois de enviado o CNPJ. A consulta não foi "
                          "repetida, para não ser cobrada duas vezes; confira a página no navegador antes de "
                          "consultar de novo");
}

QString rendererEnded(const QString &why)
{
    return QStringLiteral("O processo do navegador que exibia a página %1. A consulta foi interrompida e nada foi "
                          "gravado; clique em Consultar CNPJ para tentar de novo")
        .arg(why);
}

} // namespace WalkMessages
