// FerrikDlg: the incremental find bar over histOutput. The search state lives in the widgets: the
// text of editFind, histOutput's selection and the two check boxes.
#include <QKeyEvent>
#include <QPalette>
#include <QTextDocument>
#include <QTimer>

#include "FerrikDlg.h"

namespace {

const QColor kNotFoundBase(255, 102, 102, 255);

}  // namespace

void FerrikDlg::findNext() {
    searchOutput(editFind->text(), true, false);
}

void FerrikDlg::findPrevious() {
    searchOutput(editFind->text(), false, true);
}

void FerrikDlg::searchOutput(const QString& text, bool forward, bool backward) {
    const FerrikPacketHistory::Selection current = histOutput->selection();
    QPalette palette = editFind->palette();
    palette.setColor(QPalette::Active, QPalette::Base, Qt::white);

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
                palette.setColor(QPalette::Active, QPalette::Base, kNotFoundBase);
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
    editFind->setPalette(palette);
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
    if (frameFind->isHidden()) {
        if (keyText.startsWith(QLatin1Char('/')) || key->matches(QKeySequence::Find)) {
            editFind->clear();
            frameFind->show();
            editFind->setFocus(Qt::ShortcutFocusReason);
            editFind->selectAll();
            findTimer->stop();
            return true;
        }
        if (keyText.isEmpty() || keyText[0].isSpace() || !keyText[0].isPrint()) {
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
                if (keyText.isEmpty() || !keyText[0].isPrint()) {
                    return QWidget::eventFilter(watched, event);
                }
                search += keyText;
        }
    }
    editFind->setText(search);
    searchOutput(search, false, false);
    return true;
}
