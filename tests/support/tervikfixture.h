#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTemporaryDir>
#include <QTime>

class SampleSite;

// A fresh SQLite "tervik" database in a temporary program directory, with the
// business system's tables, for tests that run the window or the store.
class TervikFixture
{
public:
    TervikFixture();
    ~TervikFixture();

    bool isValid() const { return m_dir.isValid(); }
    QString directory() const { return m_dir.path(); }
    QString databaseFile() const;
    QString captureFolder() const; // where the window puts its capture files

    void addClient(int filial, int codClifor, const QString &nome, const QString &cgc);
    void addParameter(int filial, const QString &key, const QString &value);
    // The ten parameters pointing at the sample site's pages and element names.
    void addSiteParameters(int filial, const SampleSite &site);
    void addArchive(int filial, int codClifor, const QDate &date, const QTime &time, const QByteArray &image);
    void exec(const QString &sql);

    int archiveCount(int filial, int codClifor);
    // The blobs of the client's archive, oldest first.
    QList<QByteArray> archiveImages(int filial, int codClifor);

private:
    QTemporaryDir m_dir;
};

// A small JPEG of one solid colour.
QByteArray solidJpeg(int width, int height, const QColor &color);
