#include "widgets/SizeManager.h"

#include "store/DataSaver.h"
#include "store/Schema.h"
#include "widgets/ResizableWindow.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>

SizeManager* sizeManager = nullptr;

namespace
{
// All create-on-get.
TypeSpec const c_types[] = {
    {"sizer_window", Primary, false},
    {"sizer_window_widget", Primary, false},
    {"sizer_x", Tertiary, false},
    {"sizer_y", Tertiary, false},
    {"sizer_width", Tertiary, false},
    {"sizer_height", Tertiary, false},
    {"sizer_size", Tertiary, false},
    {"sizer_tree", Primary, false},
    {"sizer_tree_widget", Primary, false},
    {"sizer_tree_column_number", Tertiary, false},
    {"sizer_tree_column", Secondary, true},
    {"sizer_splitter", Primary, false},
    {"sizer_splitter_widget", Primary, false},
    {"sizer_splitter_index_number", Tertiary, false},
    {"sizer_splitter_index", Secondary, true},
};

RelationSpec const c_relations[] = {
    {"sizer_window", "sizer_window_widget", One, One},
    {"sizer_window", "sizer_x", Many, One},
    {"sizer_window", "sizer_y", Many, One},
    {"sizer_window", "sizer_width", Many, One},
    {"sizer_window", "sizer_height", Many, One},
    {"sizer_tree", "sizer_tree_widget", One, Many},
    {"sizer_tree_column", "sizer_tree", Many, One},
    {"sizer_tree_column", "sizer_tree_column_number", Many, One},
    {"sizer_tree_column", "sizer_size", Many, One},
    {"sizer_splitter", "sizer_splitter_widget", One, Many},
    {"sizer_splitter_index", "sizer_splitter", Many, One},
    {"sizer_splitter_index", "sizer_splitter_index_number", Many, One},
    {"sizer_splitter_index", "sizer_size", Many, One},
};

// The live-widget types hold addresses and are never saved.
char const* const c_savedTypes[] = {
    "sizer_window",       "sizer_tree",   "sizer_tree_column_number", "sizer_tree_column",
    "sizer_splitter",     "sizer_splitter_index_number", "sizer_splitter_index",
    "sizer_x",            "sizer_y",      "sizer_width",  "sizer_height", "sizer_size",
};

Value AddressOf(QObject const* ip_object)
{
    return Value(ip_object);
}

// The header sections whose widths are kept: all but a stretched last one.
int KeptSections(QHeaderView const* ip_header)
{
    int const l_count = ip_header->count();
    return ip_header->stretchLastSection() && l_count > 0 ? l_count - 1 : l_count;
}
} // namespace

SizeManager::SizeManager(QObject* ip_parent) : QObject(ip_parent), m_updating(false)
{
    sizeManager = this;
    DeclareTypes(c_types);
    RelateTypes(c_relations);
    if (dataSaver)
        for (char const* lp_type : c_savedTypes)
            dataSaver->AddSavedType(lp_type);
}

SizeManager::~SizeManager()
{
    if (sizeManager == this)
        sizeManager = nullptr;
}

void SizeManager::SetValue(ItemPtr i_record, char const* i_type, int i_value)
{
    ItemPtr const l_old = i_record[i_type];
    ItemPtr const l_new = d[i_type]->GetItem(Value(i_value));
    i_record += l_new;
    if (l_old && l_old != l_new && l_old.IsDisconnectedFromAll())
        l_old.Remove();
}

ItemPtr SizeManager::IndexRecord(ItemPtr i_name, char const* i_recordType, char const* i_numberType,
                                 int i_index)
{
    ItemPtr const l_number = d[i_numberType]->GetItem(Value(i_index));
    ItemPtr l_record = d.GetItem(i_name, l_number, i_recordType);
    if (!l_record)
    {
        l_record = d[i_recordType]->NewItem();
        l_record += i_name;
        l_record += l_number;
    }
    return l_record;
}

// --- Windows ---------------------------------------------------------------------------

void SizeManager::RegisterResizableWindow(QString i_name, ResizableWindow* ip_window)
{
    if (!ip_window)
        return;
    ItemPtr l_record = d["sizer_window"]->HasItem(Value(i_name));
    bool const l_usable = l_record && l_record["sizer_width"].AsInt() > 0 &&
                          l_record["sizer_height"].AsInt() > 0;
    if (l_usable)
    {
        ip_window->SetPosition(l_record["sizer_x"].AsInt(), l_record["sizer_y"].AsInt());
        ip_window->SetSize(l_record["sizer_width"].AsInt(), l_record["sizer_height"].AsInt());
    }
    else
    {
        // A window of no size cannot be used; it is replaced by what the window is now.
        if (!l_record)
            l_record = d["sizer_window"]->GetItem(Value(i_name));
        SetValue(l_record, "sizer_x", ip_window->GetX());
        SetValue(l_record, "sizer_y", ip_window->GetY());
        SetValue(l_record, "sizer_width", ip_window->GetWidth());
        SetValue(l_record, "sizer_height", ip_window->GetHeight());
    }
    l_record += d["sizer_window_widget"]->GetItem(AddressOf(ip_window));
    connect(ip_window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved,
            Qt::UniqueConnection);
    connect(ip_window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized,
            Qt::UniqueConnection);
}

void SizeManager::RecordWindow(char const* i_typeA, int i_a, char const* i_typeB, int i_b)
{
    ItemPtr const l_widget = d["sizer_window_widget"]->HasItem(AddressOf(sender()));
    ItemPtr const l_record = l_widget["sizer_window"];
    if (!l_record)
        return;
    SetValue(l_record, i_typeA, i_a);
    SetValue(l_record, i_typeB, i_b);
}

void SizeManager::OnWindowMoved(int i_x, int i_y)
{
    RecordWindow("sizer_x", i_x, "sizer_y", i_y);
}

void SizeManager::OnWindowResized(int i_width, int i_height)
{
    RecordWindow("sizer_width", i_width, "sizer_height", i_height);
}

// --- Splitters -------------------------------------------------------------------------

void SizeManager::RegisterSplitter(QString i_name, QSplitter* ip_splitter, QList<int> i_defaultSizes)
{
    if (!ip_splitter)
        return;
    ItemPtr l_record = d["sizer_splitter"]->HasItem(Value(i_name));
    if (l_record)
    {
        QList<int> l_sizes;
        for (ItemPtr const& l_pane :
             l_record.GetItems("sizer_splitter_index").SortNumericBy("sizer_splitter_index_number", true))
            l_sizes.append(l_pane["sizer_size"].AsInt());
        ip_splitter->setSizes(l_sizes);
    }
    else
    {
        l_record = d["sizer_splitter"]->GetItem(Value(i_name));
        QList<int> const l_sizes = i_defaultSizes.isEmpty() ? ip_splitter->sizes() : i_defaultSizes;
        for (int l_index = 0; l_index < l_sizes.size(); ++l_index)
        {
            ItemPtr const l_pane = d["sizer_splitter_index"]->NewItem();
            l_pane += l_record;
            l_pane += d["sizer_splitter_index_number"]->GetItem(Value(l_index));
            l_pane += d["sizer_size"]->GetItem(Value(l_sizes[l_index]));
        }
    }
    l_record += d["sizer_splitter_widget"]->GetItem(AddressOf(ip_splitter));
    connect(ip_splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved,
            Qt::UniqueConnection);
    connect(ip_splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed,
            Qt::UniqueConnection);
}

void SizeManager::OnSplitterMoved(int /*i_position*/, int /*i_index*/)
{
    if (m_updating)
        return;
    QSplitter* const lp_splitter = qobject_cast<QSplitter*>(sender());
    ItemPtr const l_widget = d["sizer_splitter_widget"]->HasItem(AddressOf(sender()));
    ItemPtr const l_record = l_widget["sizer_splitter"];
    if (!lp_splitter || !l_record)
        return;
    QList<int> const l_sizes = lp_splitter->sizes();
    for (int l_index = 0; l_index < l_sizes.size(); ++l_index)
        SetValue(IndexRecord(l_record, "sizer_splitter_index", "sizer_splitter_index_number", l_index),
                 "sizer_size", l_sizes[l_index]);

    m_updating = true;
    for (ItemPtr const& l_other : l_record.GetItems("sizer_splitter_widget"))
        if (l_other != l_widget)
            static_cast<QSplitter*>(l_other.AsPtr<QObject>())->setSizes(l_sizes);
    m_updating = false;
}

void SizeManager::OnSplitterDestroyed(QObject* ip_splitter)
{
    if (ItemPtr const l_widget = d["sizer_splitter_widget"]->HasItem(AddressOf(ip_splitter)))
        l_widget.Remove();
}

// --- Trees -----------------------------------------------------------------------------

void SizeManager::RegisterTreeWidget(QString i_name, QTreeWidget* ip_tree)
{
    if (!ip_tree)
        return;
    QHeaderView* const lp_header = ip_tree->header();
    ItemPtr l_record = d["sizer_tree"]->HasItem(Value(i_name));
    if (l_record)
    {
        for (ItemPtr const& l_column :
             l_record.GetItems("sizer_tree_column").SortNumericBy("sizer_tree_column_number", true))
            lp_header->resizeSection(l_column["sizer_tree_column_number"].AsInt(),
                                     l_column["sizer_size"].AsInt());
    }
    else
    {
        l_record = d["sizer_tree"]->GetItem(Value(i_name));
        int const l_kept = KeptSections(lp_header);
        for (int l_section = 0; l_section < l_kept; ++l_section)
        {
            ItemPtr const l_column = d["sizer_tree_column"]->NewItem();
            l_column += l_record;
            l_column += d["sizer_tree_column_number"]->GetItem(Value(l_section));
            l_column += d["sizer_size"]->GetItem(Value(lp_header->sectionSize(l_section)));
        }
    }
    l_record += d["sizer_tree_widget"]->GetItem(AddressOf(ip_tree));
    connect(lp_header, &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved,
            Qt::UniqueConnection);
    connect(ip_tree, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed, Qt::UniqueConnection);
}

void SizeManager::ForgetTreeWidget(QString i_name)
{
    if (ItemPtr const l_record = d["sizer_tree"]->HasItem(Value(i_name)))
        l_record.Remove();
}

void SizeManager::OnTreeColumnResizedMoved(int /*i_index*/, int /*i_newSize*/, int /*i_oldSize*/)
{
    if (m_updating)
        return;
    QHeaderView* const lp_header = qobject_cast<QHeaderView*>(sender());
    if (!lp_header)
        return;
    ItemPtr const l_widget = d["sizer_tree_widget"]->HasItem(AddressOf(lp_header->parent()));
    ItemPtr const l_record = l_widget["sizer_tree"];
    if (!l_record)
        return;

    ItemSet l_others = l_record.GetItems("sizer_tree_widget");
    l_others.erase(l_widget);
    m_updating = true;
    int const l_kept = KeptSections(lp_header);
    for (int l_section = 0; l_section < l_kept; ++l_section)
    {
        int const l_size = lp_header->sectionSize(l_section);
        SetValue(IndexRecord(l_record, "sizer_tree_column", "sizer_tree_column_number", l_section),
                 "sizer_size", l_size);
        for (ItemPtr const& l_other : l_others)
            static_cast<QTreeWidget*>(l_other.AsPtr<QObject>())->header()->resizeSection(l_section, l_size);
    }
    m_updating = false;
}

void SizeManager::OnTreeDestroyed(QObject* ip_tree)
{
    if (ItemPtr const l_widget = d["sizer_tree_widget"]->HasItem(AddressOf(ip_tree)))
        l_widget.Remove();
}
