#pragma once

// The list of finished downloads, newest first: one row per announcement of a
// `complete_download` record, tied to it through a `complete_download_node` keyed by the
// row's address. Rows are only ever added.
//
// At most one list at a time, reached through completeDownloadsForm (null while there is
// none). The transfers form makes it on demand.

#include "store/DataSaver.h"
#include "store/Data.h"

#include <QWidget>

class Ui_CompleteDownloadsForm;

class CompleteDownloadsForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit CompleteDownloadsForm(QWidget* ip_parent = nullptr);
    ~CompleteDownloadsForm() override;

    // Declares the row node type (once per run), follows new records and asks for the
    // loaded ones.
    void Init();
    // A row for every record in the store.
    void DataLoaded() override;

public slots:
    void OnCompleteDownloadAdded(ItemPtr i_record);

private:
    Ui_CompleteDownloadsForm* mp_ui;
};

extern CompleteDownloadsForm* completeDownloadsForm;
