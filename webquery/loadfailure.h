#pragma once

#include <QString>

class QWebEngineLoadingInfo;

// Why a page did not load, in Portuguese, with the HTTP status or the
// network error the engine gave ("o site respondeu com o erro HTTP 500").
QString loadFailureReason(const QWebEngineLoadingInfo &info);

class QWebEngineCertificateError;

// Why the engine does not trust the site's certificate, in Portuguese, with
// the engine's own description.
QString certificateProblem(const QWebEngineCertificateError &error);
