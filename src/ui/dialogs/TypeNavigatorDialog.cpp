#include "ui/dialogs/TypeNavigatorDialog.h"

#include "store/Data.h"
#include "ui_TypeNavigatorDialog.h"

#include <QStringList>

#include <algorithm>
#include <deque>
#include <unordered_map>

namespace
{
using Distances = std::unordered_map<Type*, int>;

// Relation steps from the type to every type within the limit (relations are recorded
// on both sides, so this is also the distance back to it).
Distances StepsFrom(Type* ip_type, int i_limit)
{
    Distances l_steps{{ip_type, 0}};
    std::deque<Type*> l_queue{ip_type};
    while (!l_queue.empty())
    {
        Type* const lp_current = l_queue.front();
        l_queue.pop_front();
        int const l_next = l_steps[lp_current] + 1;
        if (l_next > i_limit)
            continue;
        for (auto const& l_relation : lp_current->Relations())
            if (l_steps.emplace(l_relation.first, l_next).second)
                l_queue.push_back(l_relation.first);
    }
    return l_steps;
}

struct PathSearch
{
    Type* mp_target;
    Distances m_stepsToTarget;
    std::vector<Type*> m_path;
    std::vector<std::vector<Type*>> m_found;

    // Every simple path from the current type to the target of at most c_maxSteps
    // steps, in relation-table order. A branch that cannot reach the target within the
    // steps left is not entered: it could add no path.
    void Walk(Type* ip_current)
    {
        m_path.push_back(ip_current);
        if (ip_current == mp_target)
            m_found.push_back(m_path);
        else
        {
            int const l_stepsLeft = TypeNavigatorDialog::c_maxSteps - int(m_path.size()) + 1;
            for (auto const& l_relation : ip_current->Relations())
            {
                Type* const lp_next = l_relation.first;
                auto const l_distance = m_stepsToTarget.find(lp_next);
                if (l_distance == m_stepsToTarget.end() || 1 + l_distance->second > l_stepsLeft)
                    continue;
                if (std::find(m_path.begin(), m_path.end(), lp_next) == m_path.end())
                    Walk(lp_next);
            }
        }
        m_path.pop_back();
    }
};
} // namespace

TypeNavigatorDialog::TypeNavigatorDialog(QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_TypeNavigatorDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->fromTypeBox, &QComboBox::currentTextChanged, this,
            [this](QString const& i_text) { onFromTypeSelectionChanged(i_text.toLatin1()); });
    connect(ui->toTypeBox, &QComboBox::currentTextChanged, this,
            [this](QString const& i_text) { onToTypeSelectionChanged(i_text.toLatin1()); });
}

TypeNavigatorDialog::~TypeNavigatorDialog()
{
    delete ui;
}

void TypeNavigatorDialog::Init()
{
    QStringList l_names;
    for (auto const& l_type : d.Types())
        l_names << QString::fromLatin1(l_type.first.data(), qsizetype(l_type.first.size()));
    ui->fromTypeBox->addItems(l_names);
}

void TypeNavigatorDialog::GetRelatedTypes(std::string const& i_name,
                                          std::set<std::string>& io_names, int i_depth)
{
    Type* const lp_type = d.HasType(i_name);
    if (!lp_type || i_depth > c_maxSteps)
        return;
    for (auto const& l_reached : StepsFrom(lp_type, c_maxSteps - i_depth + 1))
        if (l_reached.second > 0)
            io_names.insert(l_reached.first->Name());
}

std::vector<TypeNavigatorDialog::TypePath> TypeNavigatorDialog::FindPaths(std::string const& i_start,
                                                                          std::string const& i_target)
{
    Type* const lp_start = i_start.empty() ? nullptr : d.HasType(i_start);
    Type* const lp_target = i_target.empty() ? nullptr : d.HasType(i_target);
    if (!lp_start || !lp_target)
        return {};
    PathSearch l_search{lp_target, StepsFrom(lp_target, c_maxSteps), {}, {}};
    l_search.Walk(lp_start);
    // Shortest first; paths of one length stay in the order found.
    std::stable_sort(l_search.m_found.begin(), l_search.m_found.end(),
                     [](auto const& i_a, auto const& i_b) { return i_a.size() < i_b.size(); });
    std::vector<TypePath> l_paths;
    l_paths.reserve(l_search.m_found.size());
    for (auto const& l_found : l_search.m_found)
    {
        TypePath l_names;
        for (Type* lp_type : l_found)
            l_names.push_back(lp_type->Name());
        l_paths.push_back(std::move(l_names));
    }
    return l_paths;
}

QString TypeNavigatorDialog::ChartLine(TypePath const& i_path)
{
    QString l_types;
    bool l_toOneOnly = true;
    Type* lp_previous = nullptr;
    for (std::string const& l_name : i_path)
    {
        Type* const lp_type = d.GetType(l_name);
        if (lp_previous)
        {
            bool const l_toMany = lp_previous->GetRelation(lp_type).m_otherOneOrMany == Many;
            l_toOneOnly = l_toOneOnly && !l_toMany;
            l_types += l_toMany ? QStringLiteral(" => ") : QStringLiteral(" -> ");
        }
        l_types += QStringLiteral("<b>") + QString::fromLatin1(l_name.data(), qsizetype(l_name.size())) +
                   QStringLiteral("</b>");
        if (lp_type->IsNull())
            l_types += QStringLiteral(" [null]");
        lp_previous = lp_type;
    }
    QString const l_prefix = l_toOneOnly ? QStringLiteral("<font color=green><b>[%1]</b></font> ")
                                         : QStringLiteral("[%1] ");
    return l_prefix.arg(i_path.size()) + l_types;
}

void TypeNavigatorDialog::onFromTypeSelectionChanged(QByteArray i_typeName)
{
    ui->toTypeBox->clear();
    std::string const l_start = i_typeName.toStdString();
    std::set<std::string> l_names{l_start};
    GetRelatedTypes(l_start, l_names, 1);
    l_names.erase(l_start);
    QStringList l_targets;
    for (std::string const& l_name : l_names)
        l_targets << QString::fromLatin1(l_name.data(), qsizetype(l_name.size()));
    ui->toTypeBox->addItems(l_targets);
}

void TypeNavigatorDialog::onToTypeSelectionChanged(QByteArray /*i_typeName*/)
{
    // Both boxes are read: a start change clears and refills the targets first.
    std::string const l_start = ui->fromTypeBox->currentText().toLatin1().toStdString();
    std::string const l_target = ui->toTypeBox->currentText().toLatin1().toStdString();
    m_paths.clear();
    if (!ui->chartEdit->document()->isEmpty())
        ui->chartEdit->clear();
    m_paths = FindPaths(l_start, l_target);
    if (m_paths.empty())
        return;
    // One line per path, set at once: a schema can have hundreds of paths, and each
    // appended line would be parsed and laid out on its own.
    QStringList l_lines;
    l_lines.reserve(qsizetype(m_paths.size()));
    for (TypePath const& l_path : m_paths)
        l_lines << ChartLine(l_path);
    ui->chartEdit->setHtml(l_lines.join(QStringLiteral("<br>")));
}
