#include "FerrikHistoryView.h"

FerrikHistoryView::FerrikHistoryView(QWidget* parent) : QTreeView(parent) {}

FerrikHistoryView::~FerrikHistoryView() = default;
