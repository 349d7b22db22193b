#pragma once

class QWidget;

// Activates the widget's window, gives the widget the keyboard focus and makes current,
// in every enclosing QTabWidget, the tab page that contains the widget, so that a
// notification can bring the user straight to the view it is about. Null is ignored.
void FocusWidget(QWidget* widget);
