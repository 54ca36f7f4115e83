#pragma once

// Reads a PDF file back through poppler's command-line tools (pdfinfo and
// pdftotext), so tests see what a viewer would see. Coordinates are PDF
// points from the page's top-left corner.

#include <string>
#include <vector>

struct TPdfWord {
    double xMin = 0;
    double yMin = 0;
    double xMax = 0;
    double yMax = 0;
    std::string text;
};

using TPdfPage = std::vector<TPdfWord>;

// True when both tools can be run.
bool PdfToolsAvailable();

// Page count from pdfinfo; -1 when pdfinfo fails.
int PdfPageCount(const std::string& path);

// Every page with its words and their boxes, from pdftotext -bbox.
std::vector<TPdfPage> PdfWords(const std::string& path);
