#pragma once

// A developer's window onto the store's schema. The start box lists every type; the
// target box lists the other types within six relation steps of the start; the chart
// lists every relation path of up to six steps from start to target that visits no type
// twice, shortest first (equal lengths in relation-table order). Each line reads
// "[n] " (green and bold when every step leads to at most one item) and the types in
// bold, " [null]" after a null type, joined by " -> " (to at most one) or " => " (to
// many). Deletes itself when closed.

#include <QByteArray>
#include <QDialog>
#include <QList>

#include <map>
#include <set>
#include <string>
#include <vector>

class Type;
class Ui_TypeNavigatorDialog;

class TypeNavigatorDialog : public QDialog
{
    Q_OBJECT

public:
    using TypePath = std::vector<std::string>;
    // Paths and reachable types end here, in relation steps.
    static constexpr int c_maxSteps = 6;

    explicit TypeNavigatorDialog(QWidget* ip_parent = nullptr);
    ~TypeNavigatorDialog() override;

    // Fills the start box with every type of the store, in byte order.
    void Init();

    // Adds to the set every type within c_maxSteps - (depth - 1) steps of the named one.
    static void GetRelatedTypes(std::string const& i_name, std::set<std::string>& io_names,
                                int i_depth);
    // The paths from the start to the target, in chart order; none for an empty or
    // unknown target.
    static std::vector<TypePath> FindPaths(std::string const& i_start, std::string const& i_target);
    // One chart line (rich text) for a path.
    static QString ChartLine(TypePath const& i_path);

    Ui_TypeNavigatorDialog* Form() const { return ui; }
    std::vector<TypePath> const& Paths() const { return m_paths; }

public slots:
    void onFromTypeSelectionChanged(QByteArray i_typeName);
    void onToTypeSelectionChanged(QByteArray i_typeName);

private:
    Ui_TypeNavigatorDialog* ui;
    std::vector<TypePath> m_paths;
};
