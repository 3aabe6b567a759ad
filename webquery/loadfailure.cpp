#include "loadfailure.h"

#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>

namespace {

// Chromium's network error codes that a branch is likely to meet.
QString networkReason(int code)
{
    switch (code) {
    case -7: return QStringLiteral("o tempo de espera da conexão esgotou");
    case -100: return QStringLiteral("o site fechou a conexão");
    case -101: return QStringLiteral("a conexão foi interrompida");
    case -102: return QStringLiteral("o site recusou a conexão");
    case -104:
    case -118: return QStringLiteral("não foi possível conectar ao site");
    case -105:
    case -137: return QStringLiteral("o nome do site não foi encontrado");
    case -106: return QStringLiteral("o computador não está conectado à rede");
    case -109: return QStringLiteral("o endereço do site não pode ser alcançado");
    case -312: return QStringLiteral("o navegador não se conecta a essa porta");
    case -324: return QStringLiteral("o site fechou a conexão sem responder");
    default: return {};
    }
}

} // namespace

QString loadFailureReason(const QWebEngineLoadingInfo &info)
{
    const QString engineText = info.errorString().trimmed();
    switch (info.errorDomain()) {
    case QWebEngineLoadingInfo::HttpStatusCodeDomain:
        // The engine's text here is a fragment of its own error page.
        return QStringLiteral("o site respondeu com o erro HTTP %1").arg(info.errorCode());
    case QWebEngineLoadingInfo::CertificateErrorDomain:
        return QStringLiteral("o certificado do site não é confiável (%1)").arg(engineText);
    case QWebEngineLoadingInfo::ConnectionErrorDomain:
    case QWebEngineLoadingInfo::DnsErrorDomain:
    case QWebEngineLoadingInfo::HttpErrorDomain:
    case QWebEngineLoadingInfo::InternalErrorDomain:
    case QWebEngineLoadingInfo::FtpErrorDomain:
    case QWebEngineLoadingInfo::NoErrorDomain: break;
    }
    const QString reason = networkReason(info.errorCode());
    const QString detail = engineText.isEmpty() ? QStringLiteral("erro %1").arg(info.errorCode())
                                                : QStringLiteral("%1, erro %2").arg(engineText).arg(info.errorCode());
    return reason.isEmpty() ? QStringLiteral("erro de rede (%1)").arg(detail)
                            : QStringLiteral("%1 (%2)").arg(reason, detail);
}

QString certificateProblem(const QWebEngineCertificateError &error)
{
    QString why;
    switch (error.type()) {
    case QWebEngineCertificateError::CertificateAuthorityInvalid:
        why = QStringLiteral("emitido por quem o navegador não reconhece");
        break;
    case QWebEngineCertificateError::CertificateCommonNameInvalid:
        why = QStringLiteral("emitido para outro endereço");
        break;
    case QWebEngineCertificateError::CertificateDateInvalid: why = QStringLiteral("vencido ou ainda não válido"); break;
    case QWebEngineCertificateError::CertificateRevoked: why = QStringLiteral("revogado"); break;
    default: why = QStringLiteral("recusado pelo navegador"); break;
    }
    return QStringLiteral("o certificado do site não é confiável: %1 (%2)").arg(why, error.description());
}
