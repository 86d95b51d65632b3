#pragma once

#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace mr {

// Makes one blank-free field: "*" for the empty text, else blank, backslash, asterisk,
// CR and LF each preceded by a backslash.
QByteArray EncodeField(const QByteArray& text);
QString EncodeField(const QString& text);

// Decodes the blank-separated fields of a line up to its first unescaped CR or LF.
// A lone unescaped "*" is the empty field; a backslash takes the next byte literally.
QList<QByteArray> SplitFields(const QByteArray& line);
void SplitFields(const QString& line, QStringList& fields);
QStringList SplitFields(const QString& line);

QString ReplaceChar(const QString& text, QChar from, QChar to);

// Text a peer wrote byte for byte: UTF-8 when it reads as such, else one character a byte
// (Latin-1), so that no letter from a peer writing an 8-bit code page is lost.
QString TextFromPeer(const QByteArray& bytes);

// A number field read strictly: an optional leading "-" (and "+" when allowed) and decimal
// digits, nothing else, within [min, max]; anything else, overflow included, is nothing.
std::optional<qint64> ParseDecimal(const QByteArray& text, qint64 min, qint64 max,
                                   bool allowPlus = false);

}  // namespace mr
