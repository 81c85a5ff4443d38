// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "TextOps.h"

#include <QByteArray>
#include <QStringView>

#include <algorithm>
#include <cstring>

namespace ferrik {

namespace {

// Length of the decimal digit (Unicode category Nd, surrogate pairs included) at i, or 0.
qsizetype digitAt(const QChar* d, qsizetype i, qsizetype len) {
    if (d[i].isHighSurrogate() && i + 1 < len && d[i + 1].isLowSurrogate()) {
        return QChar::isDigit(QChar::surrogateToUcs4(d[i], d[i + 1])) ? 2 : 0;
    }
    return d[i].isDigit() ? 1 : 0;
}

}  // namespace

void stripNamespaces(QString& text) {
    // Replaces every match of "<(/?)ns\\d+:" (\\d in its Unicode meaning) by "<\\1" in one scan,
    // compacting the string in place: characters are only ever removed, and only behind the scan.
    // (A regular-expression replace gives the same result an order of magnitude slower on large
    // replies, where every line holds a match.)
    const qsizetype len = text.size();
    QStringView all(text);
    const QChar* d = text.constData();
    QChar* out = nullptr;   // the detached buffer, once the first match is found
    qsizetype written = 0;  // out[0, written) is final
    qsizetype kept = 0;     // text[kept, ...) still has to be moved down to written
    qsizetype from = 0;
    for (;;) {
        const qsizetype lt = all.indexOf(QLatin1Char('<'), from);
        if (lt < 0) {
            break;
        }
        from = lt + 1;
        qsizetype at = lt + 1;
        if (at < len && d[at] == QLatin1Char('/')) {
            ++at;
        }
        if (at + 1 >= len || d[at] != QLatin1Char('n') || d[at + 1] != QLatin1Char('s')) {
            continue;
        }
        qsizetype end = at + 2;
        qsizetype width = 0;
        while (end < len && (width = digitAt(d, end, len)) > 0) {
            end += width;
        }
        if (end == at + 2 || end >= len || d[end] != QLatin1Char(':')) {
            continue;
        }
        if (!out) {
            out = text.data();  // may detach: look at the new buffer from here on
            d = out;
            all = QStringView(out, len);
            written = at;
        } else {
            std::copy(out + kept, out + at, out + written);
            written += at - kept;
        }
        kept = end + 1;
        from = end + 1;
    }
    if (out) {
        std::copy(out + kept, out + len, out + written);
        written += len - kept;
        text.truncate(written);
    }
}

void indentXml(QString& text, int tab) {
    qint64 depth = 0;
    indentXml(text, tab, depth);
}

qsizetype replyCut(const QString& text, qsizetype from, bool strip) {
    // indentXml examines a line feed only when two more characters follow it; a line of two or
    // more characters before the cut keeps the part's last line feed examined as in the whole
    // (three for the first line, which counts from index 1).
    // A carriage return before the cut would be taken for a break of its own once the line feed
    // that ends it is in the next part.
    for (qsizetype feed = text.indexOf(QLatin1Char('\n'), std::max<qsizetype>(from, 1)); feed > 0;
         feed = text.indexOf(QLatin1Char('\n'), feed + 1)) {
        const qsizetype previous = text.lastIndexOf(QLatin1Char('\n'), feed - 1);
        QString line = text.sliced(previous + 1, feed - previous - 1);
        if (strip) {
            stripNamespaces(line);
        }
        // The first line counts from index 1, as if index 0 were its line feed.
        const qsizetype shortest = previous < 0 ? 3 : 2;
        if (line.size() >= shortest && !line.endsWith(QLatin1Char('\r'))) {
            return feed;
        }
    }
    return text.size();
}

void indentXml(QString& text, int tab, qint64& carried) {
    // The reference formulation inserts the indentation into the string it scans, which makes the
    // whole pass quadratic. Each line is examined at a position of the unmodified text and insertions
    // only ever happen before the line under consideration, so the same decisions can be taken on the
    // original text while the result is written into a new string.
    const qsizetype len = text.size();
    const QChar* d = text.constData();
    const QStringView all(text);
    const QChar unit = tab != 0 ? QLatin1Char(' ') : QLatin1Char('\t');
    const qint64 perLevel = tab != 0 ? tab : 1;

    QString out;
    qsizetype copied = 0;  // text[0, copied) is already in out
    qint64 depth = carried;
    qsizetype pos = 0;  // index of the line feed before the line (0 stands for one)
    while (pos <= len - 3) {
        qsizetype next = all.indexOf(QLatin1Char('\n'), pos + 1);
        if (d[pos + 1] == QLatin1Char('<')) {
            const qsizetype lineEnd = next < 0 ? len : next;
            const bool closing = all.sliced(pos + 2, lineEnd - pos - 2).contains(QLatin1Char('/'));
            if (d[pos + 2] == QLatin1Char('/')) {
                depth = std::max<qint64>(depth - 1, 0);
            }
            const qint64 width = depth * perLevel;
            if (width > 0) {
                if (out.isNull()) {
                    out.reserve(len + len / 4);
                }
                out.append(all.sliced(copied, pos + 1 - copied));
                const qsizetype at = out.size();
                out.resize(at + width);
                std::fill(out.begin() + at, out.end(), unit);
                copied = pos + 1;
            }
            if (!closing) {
                ++depth;
            }
        }
        if (next < 0) {
            break;
        }
        pos = next;
    }
    carried = depth;
    if (copied > 0) {
        out.append(all.sliced(copied));
        text = std::move(out);
    }
}

QString base64EncodeText(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toBase64());
}

QString base64DecodeText(const QString& text) {
    const QByteArray bytes = QByteArray::fromBase64(text.toUtf8());
    return QString::fromUtf8(bytes.constData(), qsizetype(qstrnlen(bytes.constData(), bytes.size())));
}

}  // namespace ferrik
