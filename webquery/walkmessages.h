#pragma once

#include <QString>

// How a walk that ran out of time or met the login page again ends, as the
// user reads it: what the site did, and what was sent and stored.
namespace WalkMessages {

// step: the step of the walk that waited ("resultado da consulta do CNPJ").
QString noAnswer(const QString &step, int seconds);
// title empty: the page has none.
QString unknownPage(const QString &step, const QString &address, const QString &title, int seconds);
// address: the new window's, or "sem endereço".
QString windowWithoutPage(const QString &address, const QString &step, int seconds);
// The login page after the site had accepted it; cnpjSent: the CNPJ form had gone out.
QString sessionExpired(bool cnpjSent);

// The login page again after the user and password were sent, before the site accepted them.
QString loginRefused();
// The CNPJ page again after its form went out.
QString cnpjPageAgain();
// why: how the browser's page process ended ("foi encerrado").
QString rendererEnded(const QString &why);

} // namespace WalkMessages
