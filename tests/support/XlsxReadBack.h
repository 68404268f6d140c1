#pragma once

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// A workbook as an independent reader (openpyxl, tests/export/read_xlsx.py) sees it. The reader
// answers in a file: a test built for Windows runs under wine, where it can start the Linux reader
// but can neither wait for it nor read its output.
inline QJsonObject readXlsxBack(const QString& path) {
    QTemporaryDir answers;
    const QString answer = answers.filePath(QStringLiteral("book.json"));
    if (!QProcess::startDetached(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(VESMORA_SOURCE_DIR "/tests/export/read_xlsx.py"), path, answer}))
        qWarning("the reader did not start");
    else if (!QTest::qWaitFor([&answer] { return QFileInfo::exists(answer); }, 60000))
        qWarning("the reader gave no answer");
    QFile file(answer);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}
