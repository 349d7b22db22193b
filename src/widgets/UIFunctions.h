#pragma once

class QTabWidget;
class QWidget;

// Set by the main window when it starts to shut down; from then on the toolbars ignore
// focus changes, destroyed widgets and clicks, so that nothing is rebuilt while the
// forms are torn down. Read and written on the GUI thread only.
extern bool g_showIsOver;

// Activates the widget's window, gives the widget the keyboard focus and makes current,
// in every enclosing QTabWidget, the tab page that contains the widget, so that a
// notification can bring the user straight to the view it is about. Null is ignored.
void FocusWidget(QWidget* widget);

// --- Tab focus -------------------------------------------------------------------
// A form marks the widgets that should take the focus when their tab page is shown with
// a rank (the dynamic property "get_focus"); the highest visible rank of a page wins.

// Marks the widget with the rank; a widget visible right now also takes the focus.
void RegisterWidgetForTabFocus(QWidget* ip_widget, int i_rank);

// Searches the visible subtree of the widget depth first and gives the focus to every
// marked widget whose rank is strictly above the best seen so far, so that the first of
// the highest-ranked widgets ends with it. Returns the best rank (at least i_best).
int FindWidgetFocusProperty(QWidget* ip_widget, int i_best);

// Brings a widget forward: its window is activated, the widget takes the focus, and
// every enclosing tab widget shows the page that holds it, innermost first.
void FocusWidgetAndParents(QWidget* ip_widget);

// The nearest enclosing tab widget one of whose pages is the widget or holds it, with
// that page's index written to io_index; null (io_index untouched) when there is none.
QTabWidget* GetWidgetTabWidget(QWidget* ip_widget, int& io_index);
