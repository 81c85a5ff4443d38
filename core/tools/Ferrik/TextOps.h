// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Pure text operations of the console: reply post-processing and Base64 conversion.
// All are reentrant, keep no state but stripNamespaces' compiled expression, and cannot fail.

#include <QString>

namespace ferrik {

// Removes generated namespace prefixes of tag names in place: "<ns1:a>" -> "<a>", "</ns12:a>" -> "</a>".
// Only "ns" + decimal digits + ":" right after "<" or "</" is removed; attributes stay as they are.
void stripNamespaces(QString& text);

// Re-indents XML line by line in place. A line is the text after a line feed; the first line counts
// only from index 1. A line starting with "<" is indented by the current depth (tab spaces per level,
// or one tab character per level when tab is 0; nothing when tab is negative); an end tag first steps
// one level out (never below 0); a line holding no "/" after its "<" opens a level. Lines not
// starting with "<" are left alone. Runs in time linear in the text's length.
void indentXml(QString& text, int tab);
// The same for consecutive parts of one text, each but the first starting at a line feed and cut
// where replyCut says: depth is the nesting carried from the part before (0 for the first part),
// updated for the next. The parts then come out as the corresponding parts of the whole text's
// result.
void indentXml(QString& text, int tab, qint64& depth);
// Where a text may be cut into parts that stripNamespaces (when strip is set) and indentXml treat
// exactly as the whole: the first line feed at or after `from` whose line before it has at least
// two characters (three for the text's first line; counted once stripped) and does not end in a
// carriage return; text.size() if there is none.
qsizetype replyCut(const QString& text, qsizetype from, bool strip);

// The UTF-8 bytes of text in standard padded Base64 without line breaks.
QString base64EncodeText(const QString& text);

// text's UTF-8 bytes decoded from Base64 (characters outside the alphabet are skipped), read as
// UTF-8 up to the first zero byte.
QString base64DecodeText(const QString& text);

}  // namespace ferrik
