// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikDlg: the incremental find bar over histOutput. The search state lives in the widgets: the
// text of editFind, histOutput's selection and the two check boxes.
#include <QKeyEvent>
#include <QPalette>
#include <QTextDocument>
#include <QTimer>

#include "FerrikDlg.h"

#include "FerrikColours.h"

namespace {

// The field's Base on a light palette while its text matches, and when it matches nothing.
const QColor kFoundBase(Qt::white);
const QColor kNotFoundBase(255, 102, 102, 255);

}  // namespace

void FerrikDlg::colourFindField(bool found) {
    findNotFound = !found;
    // The window's palette: the field's own Base is the one set here.
    const QPalette& shown = palette();
    QPalette field = editFind->palette();
    field.setColor(
        QPalette::Active, QPalette::Base,
        found ? (ferrik::isDarkPalette(shown) ? shown.color(QPalette::Active, QPalette::Base) : kFoundBase)
              : ferrik::backgroundColourFor(kNotFoundBase, shown));
    editFind->setPalette(field);
}

void FerrikDlg::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange &&
        editFind->palette().isBrushSet(QPalette::Active, QPalette::Base)) {
        colourFindField(!findNotFound);  // a field coloured by a search follows the new palette
    }
}

void FerrikDlg::findNext() {
    searchOutput(editFind->text(), true, false);
}

void FerrikDlg::findPrevious() {
    searchOutput(editFind->text(), false, true);
}

void FerrikDlg::searchOutput(const QString& text, bool forward, bool backward) {
    const FerrikPacketHistory::Selection current = histOutput->selection();
    bool found = true;

    // An incremental search starts at the start of the current match, so that the match grows in
    // place while the user types; "Next" steps past it, "Previous" searches back from its start.
    const qsizetype from = forward ? current.position : current.anchor;
    FerrikPacketHistory::Selection result{from, from};

    if (!text.isEmpty()) {
        QTextDocument::FindFlags flags;
        if (backward) {
            flags |= QTextDocument::FindBackward;
        }
        if (checkCase->isChecked()) {
            flags |= QTextDocument::FindCaseSensitively;
        }
        if (checkWholeWords->isChecked()) {
            flags |= QTextDocument::FindWholeWords;
        }
        std::optional<FerrikPacketHistory::Selection> match = histOutput->findText(text, from, flags);
        labelWrapped->hide();
        if (!match) {
            match = histOutput->findText(text, backward ? histOutput->toPlainText().size() : 0, flags);
            if (!match) {
                found = false;
            } else {
                labelWrapped->show();
            }
        }
        if (match) {
            result = *match;
        }
    }

    if (!frameFind->isVisible()) {
        frameFind->show();
    }
    histOutput->setSelection(result.anchor, result.position);
    colourFindField(found);
    if (!editFind->hasFocus()) {
        findTimer->start();
    }
}

bool FerrikDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editFind) {
        if (event->type() == QEvent::FocusIn && findTimer->isActive()) {
            findTimer->stop();
        }
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }

    auto* key = static_cast<QKeyEvent*>(event);
    const QString keyText = key->text();
    QString search = editFind->text();
    // A chord with Ctrl or Alt is a command (a shortcut, a menu's accelerator), never search text.
    const bool chord = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    if (frameFind->isHidden()) {
        if (key->matches(QKeySequence::Find) || (!chord && keyText.startsWith(QLatin1Char('/')))) {
            editFind->clear();
            frameFind->show();
            editFind->setFocus(Qt::ShortcutFocusReason);
            editFind->selectAll();
            findTimer->stop();
            return true;
        }
        if (chord || keyText.isEmpty() || keyText[0].isSpace() || !keyText[0].isPrint()) {
            return QWidget::eventFilter(watched, event);
        }
        search = keyText;
        frameFind->show();
    } else {
        switch (key->key()) {
            case Qt::Key_Escape:
                frameFind->hide();
                labelWrapped->hide();
                return true;
            case Qt::Key_Backspace:
                search.chop(1);
                break;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                return true;
            default:
                if (chord || keyText.isEmpty() || !keyText[0].isPrint()) {
                    return QWidget::eventFilter(watched, event);
                }
                search += keyText;
        }
    }
    editFind->setText(search);
    searchOutput(search, false, false);
    return true;
}
