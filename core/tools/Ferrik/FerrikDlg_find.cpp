// FerrikDlg: the incremental find bar over histOutput. The search state lives in the widgets: the
// text of editFind, the selection of histOutput's cursor and the two check boxes.
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
    QTextDocument* document = histOutput->document();
    QTextCursor cursor = histOutput->textCursor();
    QPalette palette = editFind->palette();
    palette.setColor(QPalette::Active, QPalette::Base, Qt::white);

    // An incremental search starts at the start of the current match, so that the match grows in
    // place while the user types; "Next" steps past it, "Previous" searches back from its start.
    if (cursor.hasSelection()) {
        cursor.setPosition(forward ? cursor.position() : cursor.anchor());
    }
    QTextCursor result = cursor;

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
        result = histOutput->findText(text, cursor, flags);
        labelWrapped->hide();
        if (result.isNull()) {
            QTextCursor restart(document);
            if (backward) {
                restart.movePosition(QTextCursor::End);
            }
            result = histOutput->findText(text, restart, flags);
            if (result.isNull()) {
                palette.setColor(QPalette::Active, QPalette::Base, kNotFoundBase);
                result = cursor;
            } else {
                labelWrapped->show();
            }
        }
    }

    if (!frameFind->isVisible()) {
        frameFind->show();
    }
    histOutput->setTextCursor(result);
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
