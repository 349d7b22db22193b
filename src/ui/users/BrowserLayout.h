#pragma once

// The widgets both share browsers are made of: a folder tree and a file list side by
// side, and below them a filter box with its help button.

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>

struct BrowserWidgets
{
    QSplitter* splitter;
    QTreeWidget* folderTree;
    QTreeWidget* fileList;
    QHBoxLayout* filterRow;
    QLabel* SearchFilterSpacer;
    QPushButton* filterHelpButton;
    QLineEdit* filterEdit;
};

// Makes the widgets under ip_parent, hidden until a share is shown; the caller places
// splitter and filterRow in its layout.
BrowserWidgets MakeBrowserWidgets(QWidget* ip_parent);
// Shows or hides the trees and the filter controls together.
void ShowBrowserWidgets(BrowserWidgets const& i_widgets, bool i_shown);
