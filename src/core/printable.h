#pragma once

#include <QString>
#include <QStringView>

// Text from outside (a device's name, a tool's output) may carry control
// characters that would steer a terminal or hide text in a log or a table:
// each one (C0, DEL, C1) becomes U+FFFD, except those listed in keep.
inline QString withoutControlCharacters(QString text, QStringView keep = {})
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 || (u >= 0x7F && u <= 0x9F)) && !keep.contains(c))
            c = QChar::ReplacementCharacter;
    }
    return text;
}
