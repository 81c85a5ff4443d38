// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikOptions.h"

#include "FerrikDlg.h"

const std::array<FerrikOption, kFerrikOptionCount> kFerrikOptions = {{
    {"raw", &FerrikDlg::raw, nullptr, 0, 0, "cbRaw"},
    {"scroll", &FerrikDlg::scroll, nullptr, 1, 1, "cbScroll"},
    {"clear_input", nullptr, nullptr, 0, 0, nullptr},
    {"indent_output", &FerrikDlg::indent_output, nullptr, 1, 1, "cbIndent"},
    {"strip_namespaces", &FerrikDlg::strip_namespaces, nullptr, 0, 0, "cbStripNamespaces"},
    {"substitiotions", &FerrikDlg::substitiotions, nullptr, 1, 0, "cbSubstitutions"},
    {"tab", nullptr, &FerrikDlg::tab, 4, 0, "sbTabSize"},
}};

int optionValue(const FerrikDlg& window, const FerrikOption& option) {
    if (option.flag != nullptr) {
        return window.*option.flag ? 1 : 0;
    }
    if (option.number != nullptr) {
        return window.*option.number;
    }
    return window.cbClearInput->isChecked() ? 1 : 0;
}

void setOptionValue(FerrikDlg& window, const FerrikOption& option, int value) {
    if (option.flag != nullptr) {
        window.*option.flag = value != 0;
    } else if (option.number != nullptr) {
        window.*option.number = value;
    } else {
        window.cbClearInput->setChecked(value != 0);
    }
}
