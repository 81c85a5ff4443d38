// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The input editor: XML-aware Enter indentation, Ctrl+Space tag closing, the "Create packet"
// skeleton and Base64 conversion of the selection. Its colours follow the palette (a dark one gets
// the highlighter's dark matches, FerrikColours.h). GUI thread only.

#include <QTextEdit>

class FerrikDlg;
class FerrikSyntaxHighLighter;
class QAction;

class FerrikTextEditor : public QTextEdit {
    Q_OBJECT
public:
    explicit FerrikTextEditor(QWidget* parent = nullptr);
    ~FerrikTextEditor() override;

    // The window whose `tab` option the editor's own insertions follow; not owned. Until it is set
    // the editor indents by the option's default, 4 spaces.
    void setMainWindow(FerrikDlg* window) { mainWindow = window; }
    int tabSize() const;

    // The opening tag "<name>" (with its angle brackets) that ends at the cursor, or an empty string.
    QString openingTagAtCursor() const;

public slots:
    void base64Encode();
    void base64Decode();
    void createPacket();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void insertIndentedNewLine();
    void closeNearestTag();
    // Replaces the selection (or inserts at the cursor when the input came from the clipboard) with
    // convert(input); does nothing when there is no input or the result is empty.
    void convertSelection(QString (*convert)(const QString&));
    QString indentUnit() const;

    FerrikDlg* mainWindow = nullptr;
    QAction* createPacketAction;
    QAction* encodeAction;
    QAction* decodeAction;
    FerrikSyntaxHighLighter* highlighter;
};
