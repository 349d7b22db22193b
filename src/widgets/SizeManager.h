#pragma once

// Keeps, across runs, the geometry of windows, the pane sizes of splitters and the
// column widths of trees, under names the forms choose. Registering a widget applies the
// sizes stored under its name, or records the widget's present ones when there are none;
// from then on every change the user makes is stored at once. Live widgets registered
// under one name share one record: a change in one of them is copied to the others.
//
// The records are saved store items (`sizer_*`); the links to live widgets are run-only.
// Value items (a width, a pane size) are shared by every record with that value and go
// when nothing holds them any more.
//
// One instance, reached through sizeManager. GUI thread only.

#include "store/Data.h"

#include <QList>
#include <QObject>
#include <QString>

class QSplitter;
class QTreeWidget;
class ResizableWindow;

class SizeManager : public QObject
{
    Q_OBJECT

public:
    // Declares the item types (once per run) and registers the saved ones; sets
    // sizeManager.
    explicit SizeManager(QObject* ip_parent = nullptr);
    ~SizeManager() override;

    // Position first, then size; a stored geometry without a positive width and height is
    // not applied but replaced by the window's present one.
    void RegisterResizableWindow(QString i_name, ResizableWindow* ip_window);
    // Without stored sizes, records i_defaultSizes (the present sizes when empty) and
    // leaves the splitter as it is: the record takes effect at the next registration.
    void RegisterSplitter(QString i_name, QSplitter* ip_splitter, QList<int> i_defaultSizes);
    // A stretched last column is neither recorded nor copied: its width is the view's.
    void RegisterTreeWidget(QString i_name, QTreeWidget* ip_tree);
    // Drops the name's column record; its columns go with the next sweep.
    void ForgetTreeWidget(QString i_name);

public slots:
    void OnWindowMoved(int i_x, int i_y);
    void OnWindowResized(int i_width, int i_height);
    void OnSplitterMoved(int i_position, int i_index);
    void OnSplitterDestroyed(QObject* ip_splitter);
    void OnTreeColumnResizedMoved(int i_index, int i_newSize, int i_oldSize);
    void OnTreeDestroyed(QObject* ip_tree);

private:
    // Connects the record to the value item of that type, dropping the old value item
    // when nothing else holds it.
    static void SetValue(ItemPtr i_record, char const* i_type, int i_value);
    // The record of index i_index under the name, made when missing.
    static ItemPtr IndexRecord(ItemPtr i_name, char const* i_recordType, char const* i_numberType,
                               int i_index);
    // Writes both values of a window record from the sender's signal.
    void RecordWindow(char const* i_typeA, int i_a, char const* i_typeB, int i_b);

    // Set while this manager resizes sibling widgets, so that their own signals are not
    // recorded again.
    bool m_updating;
};

extern SizeManager* sizeManager;
