// Texts of the engine and of the file system are narrow byte strings, as the file system spells names; the
// widgets hold QString. The two meet here, in the local 8-bit encoding that Qt uses for file names.
#pragma once

#include <QFile>
#include <QString>
#include <string>

inline QString FromNarrow(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}
inline std::string ToNarrow(const QString& text) {
    return QFile::encodeName(text).toStdString();
}
