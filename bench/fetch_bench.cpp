// The whole fetch command as the user meets it: from the command (the Enter
// key in the number box) to the document shown in the pane and the size in
// the status bar, against a local nginx serving RFC-shaped documents of
// 420 KB and 10 MB. The window is the real one, offscreen.
#include "app/PagewickM.h"
#include "app/TextPane.h"
#include "bench/support/BenchSupport.h"
#include "platform/Dialogs.h"
#include "settings/PagewickDlg.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string MakeDocument(size_t bytes)
{
    return benchsupport::MakeRfcLikeDocument(
        bytes, "Network Working Group\nRequest for Comments: 4242\n\n   A Document of Our Own\n\n", 0);
}

// Message boxes would wait for a click; a failed fetch ends the run instead.
class TFailingBoxes : public TQtMessageBoxes {
public:
    void ShowMessage(QWidget*, const QString& text) override { Fail(text); }
    void ShowError(QWidget*, const QString& text) override { Fail(text); }

private:
    [[noreturn]] static void Fail(const QString& text)
    {
        std::fprintf(stderr, "fetch failed: %s\n", text.toUtf8().constData());
        std::exit(1);
    }
};

struct TSetup {
    TTempDir root;
    std::unique_ptr<testsupport::TRealPeer> nginx;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TOptionDlg> dialog;

    TSetup()
    {
        std::filesystem::create_directories(root.File("rfc"));
        WriteTextFile(root.File("rfc/rfc1.txt"), MakeDocument(420 * 1000));
        WriteTextFile(root.File("rfc/rfc2.txt"), MakeDocument(10 * 1000 * 1000));
        nginx = testsupport::TRealPeer::Nginx(root.Path());
        TFormServices services = TFormServices::Desktop();
        services.MessageBoxes = std::make_shared<TFailingBoxes>();
        const std::string ini = root.File("Scrivlet.ini");
        services.Settings = {ini, ini, "", false};
        services.EndEventLoop = [] {};
        // A library of its own: every fetched document is stored, as for a user, but never in the user's library.
        services.LibraryPath = root.File("library.db");
        form = std::make_unique<TForm1>(services);
        dialog = std::make_unique<TOptionDlg>(ini, form.get());
        form->SetOptionDlg(dialog.get());
        form->show();
        QApplication::processEvents();
    }
    // The number fills only the query, so every run asks for a URL the library does not hold yet.
    void FetchFrom(int64_t document)
    {
        dialog->UrlBase->setText(QString::fromStdString("http://127.0.0.1:" + std::to_string(nginx->Port()) +
                                                        "/rfc/rfc" + std::to_string(document) + ".txt?n=%s"));
    }
};

TSetup& Setup()
{
    static TSetup* setup = new TSetup;
    return *setup;
}

void FetchCommand(benchmark::State& state)
{
    TSetup& setup = Setup();
    setup.FetchFrom(state.range(0));
    // Across repetitions too: a number neither the history nor the library knows yet, so every run fetches.
    static int64_t asked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        setup.form->RFCNumber->setEditText(QString::number(++asked));
        state.ResumeTiming();
        setup.form->mOpenFromWeb->trigger();
        // The fetch runs on a worker; the document is shown once its result comes back to this thread.
        while (setup.form->Fetching()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        setup.form->Memo1->repaint();
    }
    state.counters["lines"] = setup.form->Memo1->LineCount();
    state.SetLabel(setup.form->StatusText().section(':', -1).toStdString());
}

} // namespace

// 1: 420 KB, 2: 10 MB.
BENCHMARK(FetchCommand)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
