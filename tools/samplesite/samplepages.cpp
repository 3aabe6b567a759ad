#include "samplesite.h"

#include <QHttpServerResponse>

// The sample site's pages: the login and CNPJ forms, the report's rows and
// its layouts, as HTML the server answers with.

namespace {

QString attr(const QString &value)
{
    return value.toHtmlEscaped();
}

// What a plain button's handler does after setting acao, for the kinds that send by script.
QString sendingHandler(const QString &kind)
{
    const QString fields = QStringLiteral("new URLSearchParams(new FormData(this.form))");
    if (kind == u"fetch")
        return QStringLiteral("fetch('/resultado', {method: 'POST', body: %1})"
                              ".then(() => { location.href = '/relatorio'; })").arg(fields);
    if (kind == u"xhr")
        return QStringLiteral("const x = new XMLHttpRequest(); x.open('POST', '/resultado');"
                              " x.onload = () => { location.href = '/relatorio'; }; x.send(%1)").arg(fields);
    if (kind == u"janela")
        return QStringLiteral("window.open('/resultado?acao=consultar&amp;cnpj0='"
                              " + encodeURIComponent(document.getElementById('cnpj0').value))");
    if (kind == u"janela-vazia")
        return QStringLiteral("window.open('')");
    if (kind == u"aguarde")
        return QStringLiteral("this.value='Aguarde...'; setTimeout(() => this.form.submit(), %1)")
            .arg(SampleSite::DelayedSubmitMs);
    return {};
}

} // namespace

QColor SampleSite::rowColor(int index)
{
    static const QRgb colors[] = {0xc00000, 0x00a000, 0x0000c0, 0xc0c000, 0x00c0c0, 0xc000c0};
    constexpr int count = int(std::size(colors));
    return QColor::fromRgb(colors[((index % count) + count) % count]);
}

QByteArray SampleSite::loginPage(const QString &error) const
{
    QString html
        = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
                         "<title>Bureau de Crédito - Acesso</title>\n"
                         "<style>body{font-family:sans-serif;margin:40px} .erro{color:#b00000;font-weight:bold}"
                         " label{display:inline-block;width:80px}</style></head>\n<body>\n<h1>Acesso restrito</h1>\n");
    if (!error.isEmpty())
        html += QStringLiteral("<p class=\"erro\" id=\"erro\">%1</p>\n").arg(error.toHtmlEscaped());
    html += QStringLiteral("<form method=\"post\" action=\"/login\" name=\"acesso\">\n"
                           "<p><label for=\"%1\">Usuário</label> <input type=\"text\" name=\"%1\" id=\"%1\"></p>\n")
                .arg(attr(m_userElement));
    if (!m_omitPassword)
        html += QStringLiteral("<p><label for=\"%1\">Senha</label> "
                               "<input type=\"password\" name=\"%1\" id=\"%1\"></p>\n")
                    .arg(attr(m_passwordElement));
    html += QStringLiteral("<input type=\"hidden\" name=\"type\" id=\"type\" value=\"\">\n"
                           "<p><input type=\"submit\" value=\"Entrar\"></p>\n</form>\n");
    if (m_busySliceMs > 0)
        html += QStringLiteral("<script>setInterval(() => { const end = Date.now() + %1; while (Date.now() < end); }, 0);"
                               "</script>\n")
                    .arg(m_busySliceMs);
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

QByteArray SampleSite::cnpjPage() const
{
    // Each kind of button sets acao to "consultar"; all but the plain one also send the form.
    QString button = QStringLiteral("<input type=\"button\" name=\"%1\" id=\"%1\" value=\"Consultar\" "
                                    "onclick=\"document.getElementById('acao').value='consultar'\">");
    QString onSubmit;
    if (m_queryButtonKind == u"submit") {
        button.replace(QStringLiteral("type=\"button\""), QStringLiteral("type=\"submit\""));
    } else if (m_queryButtonKind == u"script") {
        button.replace(QStringLiteral("'consultar'\""), QStringLiteral("'consultar'; this.form.submit()\""));
    } else if (m_queryButtonKind == u"navega") {
        button.replace(QStringLiteral("document.getElementById('acao').value='consultar'"),
                       QStringLiteral("location.href='/resultado?acao=consultar&amp;cnpj0='"
                                      " + encodeURIComponent(document.getElementById('cnpj0').value)"));
    } else if (const QString sent = sendingHandler(m_queryButtonKind); !sent.isEmpty()) {
        button.replace(QStringLiteral("'consultar'\""), QStringLiteral("'consultar'; %1\"").arg(sent));
    } else if (m_queryButtonKind == u"nova-janela") {
        button.replace(QStringLiteral("type=\"button\""), QStringLiteral("type=\"submit\""));
        onSubmit = QStringLiteral(" target=\"_blank\"");
    } else if (m_queryButtonKind == u"cancela") {
        button.replace(QStringLiteral("type=\"button\""), QStringLiteral("type=\"submit\""));
        onSubmit = QStringLiteral(" onsubmit=\"event.preventDefault(); this.submit()\"");
    }
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
               "<title>Bureau de Crédito - Consulta por CNPJ</title>\n"
               "<style>body{font-family:sans-serif;margin:40px}</style></head>\n<body>\n"
               "<form method=\"get\" action=\"/busca\" name=\"noticias\">\n"
               "<input type=\"text\" name=\"q\" id=\"q\"> <input type=\"submit\" value=\"Buscar notícias\">\n"
               "</form>\n<h1>Consulta por CNPJ</h1>\n"
               "<form method=\"post\" action=\"/resultado\" name=\"consulta\"%2>\n"
               "<p><label for=\"cnpj0\">CNPJ</label> <input type=\"text\" name=\"cnpj0\" id=\"cnpj0\"></p>\n"
               "<input type=\"hidden\" name=\"acao\" id=\"acao\" value=\"\">\n"
               "<p>%1</p>\n"
               "</form>\n</body></html>\n")
        .arg(button.arg(attr(m_queryButton)), onSubmit)
        .toUtf8();
}

QByteArray SampleSite::rowsPage(const QString &title, const QString &header, int height, const QString &layout)
{
    QString html
        = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\"><title>%1</title>\n"
                         "<style>html,body{margin:0;padding:0;background:#ffffff}"
                         " body{font-family:sans-serif}"
                         " .linha{box-sizing:border-box;max-width:%2px;height:%3px;overflow:hidden;"
                         "padding:6px 0 0 %4px;font-size:12px;line-height:16px;color:#ffffff}"
                         " .linha h1{margin:0;font-size:18px;line-height:22px}"
                         " #faixa{background:%5}</style></head>\n<body>\n")
              .arg(title.toHtmlEscaped())
              .arg(ReportWidth)
              .arg(RowHeight)
              .arg(TextIndent)
              .arg(QColor(BandColor).name());
    const QString all = rows(header, height, 0);
    if (layout == u"rodape") {
        const qsizetype last = all.lastIndexOf(QStringLiteral("<div class=\"linha\""));
        html += QStringLiteral("<div style=\"min-height:100vh\">") + all.left(last) + QStringLiteral("</div>\n")
                + all.mid(last);
    } else if (layout == u"rolagem-maxima") {
        const qsizetype last = all.lastIndexOf(QStringLiteral("<div class=\"linha\""));
        html += QStringLiteral("<div id=\"rolagem\" style=\"max-height:100vh;overflow:auto\">") + all.left(last)
                + QStringLiteral("</div>\n") + all.mid(last);
    } else if (layout == u"faixa") {
        html += QStringLiteral("<div id=\"faixa\" style=\"height:100vh\"></div>\n") + all;
    } else if (layout == u"script") {
        html += QStringLiteral("<div id=\"faixa\"></div>\n<script>const faixa = document.getElementById('faixa');"
                               "const fit = () => { faixa.style.height = innerHeight + 'px'; };"
                               "fit(); addEventListener('resize', fit);</script>\n")
                + all;
    } else if (layout == u"rolagem") {
        html += QStringLiteral("<style>html,body{height:100%;overflow:hidden}</style>\n"
                               "<div id=\"rolagem\" style=\"height:100vh;overflow:auto\">\n")
                + all + QStringLiteral("</div>\n");
    } else if (layout == u"preguicoso") {
        html += rows(header, qMin(height, RowHeight), 0);
        for (int i = 1; i * RowHeight < height; ++i) {
            const int rowHeight = qMin(RowHeight, height - i * RowHeight);
            html += QStringLiteral("<img loading=\"lazy\" alt=\"\" style=\"display:block\" width=\"%1\" height=\"%2\" "
                                   "src=\"/imagem?linha=%3&amp;altura=%2\">\n")
                        .arg(ReportWidth)
                        .arg(rowHeight)
                        .arg(i);
        }
    } else if (layout == u"temporizador") {
        html += rows(header, qMin(height, RowHeight), 0)
                + QStringLiteral("<div id=\"linhas\">carregando...</div>\n<template id=\"dados\">%1</template>\n"
                                 "<script>setTimeout(() => { document.getElementById('linhas')"
                                 ".replaceWith(document.getElementById('dados').content); }, %2);</script>\n")
                      .arg(rows(QString(), height, 1))
                      .arg(LateReportMs);
    } else if (layout == u"inquieto") {
        // A timer always set before the page changes: never settled, however late the timers fire.
        html += all + QStringLiteral("<script>const tick = () => { setTimeout(tick, 20); "
                                     "document.title = 'Relatório ' + Date.now(); }; tick();</script>\n");
    } else if (layout == u"tardio" || layout == u"tardio-recusado") {
        // A careless page's send() on a request never opened throws, and nothing is sent.
        const QString refused = layout == u"tardio-recusado"
                                    ? QStringLiteral("try { new XMLHttpRequest().send(); } catch (e) { }")
                                    : QString();
        html += rows(header, qMin(height, RowHeight), 0)
                + QStringLiteral("<div id=\"linhas\">carregando...</div>\n<script>%2 fetch('/linhas?altura=%1')"
                                 ".then(answer => answer.text())"
                                 ".then(rows => { document.getElementById('linhas').outerHTML = rows; });</script>\n")
                      .arg(height)
                      .arg(refused);
    } else if (layout == u"ocupado") {
        html += all
                + QStringLiteral("<script>addEventListener('load', () => setTimeout(() => {"
                                 " const end = Date.now() + %1; while (Date.now() < end); }, 0));</script>\n")
                      .arg(BusyReportMs);
    } else {
        html += all;
    }
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

// The report's rows in a frame of the page: see setReportLayout().
QByteArray SampleSite::framePage(const QString &layout, int height) const
{
    const QString head = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
                                        "<title>Relatório de crédito</title>\n");
    QUrl report = url(QStringLiteral("/pagina"));
    report.setQuery(QStringLiteral("altura=%1").arg(height));
    // 13 % of the window's 465 px is the band's 60.
    const QString band = layout == u"quadros-percentual" ? QStringLiteral("13%") : QString::number(FrameBandHeight);
    if (layout.startsWith(u"quadros"))
        return (head
                + QStringLiteral("</head>\n<frameset rows=\"%1,*\" frameborder=\"0\" border=\"0\" framespacing=\"0\">"
                                 "<frame name=\"topo\" src=\"/faixa\" scrolling=\"no\">"
                                 "<frame name=\"relatorio\" src=\"%2\"></frameset></html>\n")
                      .arg(band)
                      .arg(report.toString(QUrl::FullyEncoded).toHtmlEscaped()))
            .toUtf8();
    if (layout == u"quadro-externo")
        report.setHost(QStringLiteral("localhost"));
    return (head
            + QStringLiteral("<style>html,body{margin:0;padding:0;height:100%;overflow:hidden}</style></head>\n<body>"
                             "<iframe id=\"quadro\" src=\"%1\" style=\"display:block;width:100%;height:100vh;"
                             "border:0\"></iframe></body></html>\n")
                  .arg(report.toString(QUrl::FullyEncoded).toHtmlEscaped()))
        .toUtf8();
}

// One row as a picture: ReportWidth x height px of rowColor(index).
QHttpServerResponse SampleSite::rowPicture(int index, int height)
{
    const QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\">"
                                       "<rect width=\"100%\" height=\"100%\" fill=\"%3\"/></svg>")
                            .arg(ReportWidth)
                            .arg(height)
                            .arg(rowColor(index).name());
    return QHttpServerResponse(QByteArrayLiteral("image/svg+xml"), svg.toUtf8());
}

// Rows first to the end of a stack height px tall; row 0 carries the header.
QString SampleSite::rows(const QString &header, int height, int first)
{
    QString html;
    const int count = (height + RowHeight - 1) / RowHeight;
    for (int i = first; i < count; ++i) {
        const int rowHeight = qMin(RowHeight, height - i * RowHeight);
        QString style = QStringLiteral("background:%1").arg(rowColor(i).name());
        if (rowHeight != RowHeight)
            style += QStringLiteral(";height:%1px").arg(rowHeight);
        const QString text = i == 0 ? header : QStringLiteral("Linha %1 - nada consta").arg(i);
        html += QStringLiteral("<div class=\"linha\" style=\"%1\">%2</div>\n").arg(style, text);
    }
    return html;
}

QByteArray SampleSite::revisedReport(const QString &cnpj, int revision, int height)
{
    QList<std::pair<int, QString>> rows; // colour index and text
    rows.append({0, QStringLiteral("<h1>Relatório de crédito</h1><div>CNPJ %1</div>").arg(cnpj.toHtmlEscaped())});
    for (int i = 1; rows.size() * RowHeight < height; ++i) {
        if (revision == 2 && i == 3)
            rows.append({97, QStringLiteral("Nova linha - crédito negado")});
        if (revision == 2 && i == 12)
            continue;
        rows.append({i, revision == 2 && i == 5 ? QStringLiteral("Linha 5 - PROTESTO de R$ 1.234,56 em 05/11/2026")
                                                : QStringLiteral("Linha %1 - nada consta").arg(i)});
    }
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
                                  "<title>Relatório de crédito - %1</title><style>html,body{margin:0;padding:0}"
                                  " body{font-family:sans-serif} div.l{box-sizing:border-box;width:%2px;height:%3px;"
                                  "padding:6px 0 0 %4px;font-size:12px;line-height:16px;color:#fff}"
                                  " h1{margin:0;font-size:18px;line-height:22px}</style></head>\n<body>\n")
                       .arg(cnpj.toHtmlEscaped())
                       .arg(ReportWidth)
                       .arg(RowHeight)
                       .arg(TextIndent);
    for (const auto &[colour, text] : rows)
        html += QStringLiteral("<div class=\"l\" style=\"background:%1\">%2</div>\n").arg(rowColor(colour).name(), text);
    return (html + QStringLiteral("</body></html>\n")).toUtf8();
}

QByteArray SampleSite::retypedReport(const QString &cnpj, int height, const QString &typed, bool onWhite)
{
    QByteArray html = revisedReport(cnpj, 2, height).replace("1.234,56 em 05/11/2026", typed.toUtf8());
    if (onWhite)
        html.replace("background:" + rowColor(5).name().toLatin1(), "background:#fff;color:#000");
    return html;
}
