// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A generated agent reply the way the agent writes them: generated namespace prefixes, one element
// per line, no indentation, well-formed (so that xmllint can format it too).

#include <QString>

namespace ferrik_bench {

// `lines` lines (at least 11) of about `lineBytes` bytes each (ASCII, so bytes = characters).
inline QString generateReply(int lines, int lineBytes) {
    QString out;
    out.reserve(qsizetype(lines) * (lineBytes + 8));
    out += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out += QStringLiteral("<ns1:reply xmlns:ns1=\"urn:ovl:agent\" xmlns:ns2=\"urn:ovl:env\">\n");
    const int groupLines = 8;
    const int groups = (lines - 3) / groupLines;
    const QString pad(qMax(lineBytes - 36, 1), QLatin1Char('x'));
    for (int g = 0; g < groups; ++g) {
        out += QStringLiteral("<ns2:environment id=\"%1\" kind=\"agent\">\n").arg(g, 8, 10, QLatin1Char('0'));
        out += QStringLiteral("<ns2:name>env-%1 %2</ns2:name>\n").arg(g).arg(pad);
        for (int k = 0; k < 4; ++k) {
            out += QStringLiteral("<ns2:config key=\"k%1\" value=\"a/b/%2 %3\"/>\n")
                       .arg(k)
                       .arg(g)
                       .arg(pad.left(14));
        }
        out += QStringLiteral("<ns2:state>running &amp; %1</ns2:state>\n").arg(pad.left(20));
        out += QStringLiteral("</ns2:environment>\n");
    }
    for (int n = groups * groupLines + 3; n < lines; ++n) {
        out += QStringLiteral("<ns2:note>%1</ns2:note>\n").arg(pad);
    }
    out += QStringLiteral("</ns1:reply>\n");
    return out;
}

// The 10 MB reply of 200,000 lines used by the benchmarks.
inline QString largeReply() {
    return generateReply(200000, 59);
}

}  // namespace ferrik_bench
