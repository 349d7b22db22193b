#pragma once

// The layout of a results tab: the result tree beside the related searches, and below
// them a row of filter controls kept at the right.

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

class Ui_SearchResultsForm
{
public:
    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout;
    QSplitter* splitter;
    QTreeWidget* searchResultsTreeWidget;
    QTreeWidget* correlationsWidget;
    QHBoxLayout* horizontalLayout;
    QLabel* SearchFilterSpacer;
    QPushButton* pushButton;
    QComboBox* savedFiltersBox;
    QLineEdit* filterEdit;
    QPushButton* pushButton_2;
    QPushButton* saveFilterButton;

    void setupUi(QWidget* ip_form)
    {
        if (ip_form->objectName().isEmpty())
            ip_form->setObjectName("SearchResultsForm");
        ip_form->resize(632, 394);
        horizontalLayout_2 = new QHBoxLayout(ip_form);
        horizontalLayout_2->setObjectName("horizontalLayout_2");
        verticalLayout = new QVBoxLayout();
        verticalLayout->setObjectName("verticalLayout");

        splitter = new QSplitter(ip_form);
        splitter->setObjectName("splitter");
        splitter->setOrientation(Qt::Horizontal);
        searchResultsTreeWidget = new QTreeWidget(splitter);
        searchResultsTreeWidget->setObjectName("searchResultsTreeWidget");
        searchResultsTreeWidget->setSelectionMode(QAbstractItemView::ExtendedSelection);
        searchResultsTreeWidget->setExpandsOnDoubleClick(false);
        splitter->addWidget(searchResultsTreeWidget);
        correlationsWidget = new QTreeWidget(splitter);
        correlationsWidget->setObjectName("correlationsWidget");
        correlationsWidget->setRootIsDecorated(false);
        correlationsWidget->setColumnCount(1);
        splitter->addWidget(correlationsWidget);
        verticalLayout->addWidget(splitter);

        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setObjectName("horizontalLayout");
        SearchFilterSpacer = new QLabel(ip_form);
        SearchFilterSpacer->setObjectName("SearchFilterSpacer");
        SearchFilterSpacer->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        horizontalLayout->addWidget(SearchFilterSpacer);
        pushButton = new QPushButton(ip_form);
        pushButton->setObjectName("pushButton");
        pushButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        horizontalLayout->addWidget(pushButton);
        savedFiltersBox = new QComboBox(ip_form);
        savedFiltersBox->setObjectName("savedFiltersBox");
        savedFiltersBox->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        savedFiltersBox->setFixedWidth(150);
        horizontalLayout->addWidget(savedFiltersBox);
        filterEdit = new QLineEdit(ip_form);
        filterEdit->setObjectName("filterEdit");
        filterEdit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        filterEdit->setMinimumWidth(200);
        horizontalLayout->addWidget(filterEdit);
        pushButton_2 = new QPushButton(ip_form);
        pushButton_2->setObjectName("pushButton_2");
        pushButton_2->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        pushButton_2->setFixedWidth(60);
        horizontalLayout->addWidget(pushButton_2);
        saveFilterButton = new QPushButton(ip_form);
        saveFilterButton->setObjectName("saveFilterButton");
        saveFilterButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        saveFilterButton->setFixedWidth(90);
        horizontalLayout->addWidget(saveFilterButton);
        verticalLayout->addLayout(horizontalLayout);
        horizontalLayout_2->addLayout(verticalLayout);

        retranslateUi(ip_form);
    }

    void retranslateUi(QWidget* ip_form)
    {
        ip_form->setWindowTitle(QApplication::translate("SearchResultsForm", "Form"));
        pushButton->setText(QApplication::translate("SearchResultsForm", "Filter Help"));
        savedFiltersBox->clear();
        savedFiltersBox->addItem(QApplication::translate("SearchResultsForm", "-- saved filters"));
        pushButton_2->setText(QApplication::translate("SearchResultsForm", "Clear"));
        saveFilterButton->setText(QApplication::translate("SearchResultsForm", "Save Filter"));
    }
};
