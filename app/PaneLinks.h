// The references of the document in the text pane, shown and followed as
// links: drawn underlined in the palette's link colour, the pointing hand
// over them, and a click that neither drags nor extends a selection follows
// one. Editing keeps working: the pane still receives every press. GUI thread only.
#pragma once

#include "app/DocumentReferences.h"
#include "app/TextPane.h"

#include <QObject>
#include <QPoint>
#include <span>
#include <string>
#include <vector>

struct TUtf8Lines;

struct TPaneLink {
    int Start = 0; // position in the pane's text
    int Length = 0;
    TReference Reference;
    std::string Url; // the address, for a web link
};

class TPaneLinks : public QObject {
    Q_OBJECT
public:
    explicit TPaneLinks(TTextPane& pane);

    // Finds the links of the document (DocumentLinks). ownNumber is its RFC
    // number (0 when unknown): the running page header names it, which is no link.
    void Scan(const TUtf8Lines& lines, std::span<const TContentsEntry> contents, int ownNumber);
    const std::vector<TPaneLink>& Links() const { return links_; }
    const std::vector<TPaneMark>& Marks() const { return marks_; }
    // The link at a position of the pane's text, or null.
    const TPaneLink* LinkAt(int position) const;

signals:
    // Sent after the click's events are done with, from the event loop;
    // newTab for a middle click or a Ctrl click.
    void followed(const TPaneLink& link, bool newTab);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    TTextPane& pane_;
    QWidget* viewport_;            // the pane's, watched until the pane goes
    std::vector<TPaneLink> links_; // by position
    std::vector<TPaneMark> marks_;
    QPoint pressedAt_;
    bool pressed_ = false;
    bool newTab_ = false;
};
