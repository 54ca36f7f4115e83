// TSyncDialog: ライブラリ → すべて取得. Runs one sync on a thread of its own
// (its own library connection and client, see RunLibrarySync) and shows its
// progress: a bar of documents, the documents and bytes so far, the time
// left, and each failure as it happens; pause/resume and cancel reach the
// run through its control. Closing the dialog (or the program) cancels the
// run and waits for its thread; the next run resumes where this one stopped.
// Owned by the main window; GUI thread, apart from the run it starts.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <thread>

#include "app/SyncRun.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class TSyncDialog : public QDialog {
    Q_OBJECT
public:
    explicit TSyncDialog(QWidget* parent);
    ~TSyncDialog() override;

    QProgressBar* Bar;
    QLabel* Line;
    QPlainTextEdit* Failures;
    QPushButton* PauseBtn;
    QPushButton* CancelBtn;

    // Starts a run unless one is under way; false then.
    bool Start(const TSyncRunOptions& options);
    bool Running() const { return worker_.joinable() && !finished_; }
    // Runs once the run ended, on the GUI thread, with what it did.
    std::function<void(const TSyncRunReport&)> OnFinished;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void Show(const TSyncProgress& progress);
    void Finish(const TSyncRunReport& report);
    void Stop();

    std::unique_ptr<TSyncControl> control_;
    std::thread worker_;
    bool finished_ = true;
    int failuresShown_ = 0;
};
