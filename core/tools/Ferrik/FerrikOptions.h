// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The window's options, one row each, known by their settings-file keys and in the order in
// which the settings file holds them. The constructor sets the first-start values, loadSettings
// reads each key (a key that a file lacks gets its value for a missing key), saveSettings writes
// each one, and the options dialog edits those that name a widget of it.

#include <array>
#include <cstddef>

class FerrikDlg;

struct FerrikOption {
    const char* key;
    bool FerrikDlg::*flag;     // a bool member of the window, or
    int FerrikDlg::*number;    // an int member; neither: the check state of cbClearInput
    int atStart;               // value after construction, and with no readable settings file
    int whenMissing;           // value when the file exists but lacks the key
    const char* dialogWidget;  // check box (flags) or spin box (numbers) of the options dialog
};

constexpr std::size_t kFerrikOptionCount = 7;
extern const std::array<FerrikOption, kFerrikOptionCount> kFerrikOptions;

// The option's value as an int (a flag is 0 or 1), and setting it.
int optionValue(const FerrikDlg& window, const FerrikOption& option);
void setOptionValue(FerrikDlg& window, const FerrikOption& option, int value);
