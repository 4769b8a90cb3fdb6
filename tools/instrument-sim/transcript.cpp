#include "transcript.h"

#include <cstdio>

bool Transcript::open(const QString &path, QString *why)
{
    if (path.isEmpty())
        return true;
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *why = QStringLiteral("cannot write the transcript %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray Transcript::printable(const QByteArray &bytes)
{
    constexpr int kLimit = 200;
    QByteArray out;
    const int shown = bytes.size() > kLimit ? kLimit : bytes.size();
    for (int i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(bytes.at(i));
        if (c < 0x20 || c >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out.append(hex);
        } else {
            out.append(static_cast<char>(c));
        }
    }
    if (shown < bytes.size())
        out.append("... (" + QByteArray::number(bytes.size()) + " bytes)");
    return out;
}

void Transcript::write(SimRole role, const char *arrow, const QByteArray &text)
{
    if (!file.isOpen())
        return;
    // One write per line: the file is unbuffered, so the line is on disk when this returns.
    file.write(roleName(role) + ' ' + arrow + ' ' + printable(text) + '\n');
}
