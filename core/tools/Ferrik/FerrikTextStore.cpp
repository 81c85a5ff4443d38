// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikTextStore.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <algorithm>

#include "FerrikSyntaxHighLighter.h"

namespace {

// Where a line that is too long to show whole is cut after `from`: right after a '>' or a space
// near the piece length when there is one, so that tags and words mostly stay whole; never
// between the two halves of a surrogate pair.
qsizetype cutPoint(const QString& text, qsizetype from) {
    const qsizetype end = from + FerrikTextStore::kPieceChars;
    for (qsizetype at = end; at > end - 256; --at) {
        const QChar before = text[at - 1];
        if (before == QLatin1Char('>') || before == QLatin1Char(' ')) {
            return at;
        }
    }
    return text[end - 1].isHighSurrogate() ? end - 1 : end;
}

}  // namespace

void FerrikTextStore::startEntry() {
    if (open) {
        finishEntry(false);
    }
    if (!entries.empty()) {
        all.append(QLatin1Char('\n'));
    }
    entries.push_back({all.size(), lineCount(), false});
    lines.push_back({all.size(), 0, EntryStart, -1});
    open = true;
}

void FerrikTextStore::completeLastLine(qsizetype end) {
    Line& last = lines.back();
    last.length = qint32(end - last.start);
    last.endState = qint8(FerrikSyntaxHighLighter::scan(QStringView(all).sliced(last.start, last.length),
                                                        lineStartState(lineCount() - 1)));
}

void FerrikTextStore::append(QStringView part) {
    if (!open || part.isEmpty()) {
        return;
    }
    qsizetype at = all.size();
    all.append(part);
    for (;;) {
        const qsizetype feed = all.indexOf(QLatin1Char('\n'), at);
        const qsizetype end = feed < 0 ? all.size() : feed;
        // Only a line known to be longer than a piece is cut, so a cut never depends on how the
        // text was split into parts.
        while (end - lines.back().start > kPieceChars) {
            const qsizetype cut = cutPoint(all, lines.back().start);
            completeLastLine(cut);
            lines.push_back({cut, 0, Continuation, -1});
        }
        if (feed < 0) {
            lines.back().length = qint32(end - lines.back().start);
            return;
        }
        completeLastLine(feed);
        lines.push_back({feed + 1, 0, 0, -1});
        at = feed + 1;
    }
}

void FerrikTextStore::appendHtml(const QString& html) {
    if (!open) {
        return;
    }
    QTextDocument document;
    QTextCursor(&document).insertFragment(QTextDocumentFragment::fromHtml(html));
    QString plain;
    QList<QTextLayout::FormatRange> ranges;  // offsets in plain
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) {
            plain += QLatin1Char('\n');
        }
        const int base = int(plain.size()) - block.position();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            ranges.append({base + fragment.position(), fragment.length(), fragment.charFormat()});
        }
        plain += block.text();
    }
    const qsizetype offset = all.size();
    const int first = lineCount() - 1;
    append(plain);
    for (int index = first; index < lineCount(); ++index) {
        Line& l = lines[size_t(index)];
        QList<QTextLayout::FormatRange> own;
        for (const QTextLayout::FormatRange& range : ranges) {
            const qsizetype from = std::max<qsizetype>(offset + range.start, l.start);
            const qsizetype to = std::min<qsizetype>(offset + range.start + range.length, l.start + l.length);
            if (to > from) {
                own.append({int(from - l.start), int(to - from), range.format});
            }
        }
        l.flags |= Html;
        htmlFormats[index] = std::move(own);
    }
}

void FerrikTextStore::finishEntry(bool rule) {
    if (!open) {
        return;
    }
    completeLastLine(all.size());
    if (rule) {
        lines.push_back({all.size(), 0, Rule, qint8(FerrikSyntaxHighLighter::PlainText)});
    }
    entries.back().rule = rule;
    open = false;
}

void FerrikTextStore::clear() {
    all = QString();
    lines = {};
    entries = {};
    htmlFormats.clear();
    open = false;
}

int FerrikTextStore::lineStartState(int index) const {
    if (index <= 0 || (line(index).flags & EntryStart)) {
        return FerrikSyntaxHighLighter::PlainText;
    }
    return line(index - 1).endState;
}

QList<QTextLayout::FormatRange> FerrikTextStore::lineFormats(int index) const {
    const auto it = htmlFormats.find(index);
    return it == htmlFormats.end() ? QList<QTextLayout::FormatRange>() : it->second;
}

int FerrikTextStore::lineAt(qsizetype pos) const {
    const auto after = std::upper_bound(lines.begin(), lines.end(), pos,
                                        [](qsizetype p, const Line& l) { return p < l.start; });
    int index = int(after - lines.begin()) - 1;
    if (index < 0) {
        return lines.empty() ? -1 : 0;
    }
    // A rule starts where its entry's text ends: that position is the last text line's.
    while (index > 0 && (line(index).flags & Rule)) {
        --index;
    }
    return index;
}

int FerrikTextStore::entryOfLine(int index) const {
    if (index < 0 || index >= lineCount()) {
        return -1;
    }
    const auto after = std::upper_bound(entries.begin(), entries.end(), index,
                                        [](int i, const Entry& e) { return i < e.firstLine; });
    return int(after - entries.begin()) - 1;
}
