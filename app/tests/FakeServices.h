// Scripted stand-ins for the desktop services: they record what the window
// showed and answer as the test says.
#pragma once

#include "app/PagewickM.h"
#include "platform/Dialogs.h"

#include <QPrinter>
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct TShownBox {
    std::string Kind; // "message", "error" or "question"
    QString Caption;
    QString Text;
};

class TFakeMessageBoxes : public TMessageBoxes {
public:
    void ShowMessage(QWidget*, const QString& text) override { Shown.push_back({"message", "Scrivlet", text}); }
    void ShowError(QWidget*, const QString& text) override { Shown.push_back({"error", "Scrivlet", text}); }
    bool AskYesNo(QWidget*, const QString& text, const QString& caption) override
    {
        Shown.push_back({"question", caption, text});
        bool answer = Answers.empty() ? false : Answers.front();
        if (!Answers.empty()) Answers.pop_front();
        return answer;
    }
    std::vector<TShownBox> Shown;
    std::deque<bool> Answers;
};

class TFakeDialogs : public TCommonDialogs {
public:
    std::optional<QString> OpenFile(QWidget*, const QString& filter, const QString& defaultExt) override
    {
        OpenCalls++;
        LastFilter = filter;
        LastDefaultExt = defaultExt;
        return OpenAnswer;
    }
    std::optional<QFont> ChooseFont(QWidget*, const QFont& current) override
    {
        FontCalls++;
        FontOffered = current;
        return FontAnswer;
    }
    bool Print(QWidget*, QPrinter& printer) override
    {
        PrintCalls++;
        if (PrintTo.empty()) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(PrintTo));
        return true;
    }
    int OpenCalls = 0, FontCalls = 0, PrintCalls = 0;
    QString LastFilter, LastDefaultExt;
    std::optional<QString> OpenAnswer;
    std::optional<QFont> FontAnswer;
    QFont FontOffered;
    std::string PrintTo; // empty: the user cancels the print dialog
};

class TFakeScreen : public TScreen {
public:
    QSize Size() override { return ScreenSize; }
    QSize ScreenSize{1024, 768};
};
