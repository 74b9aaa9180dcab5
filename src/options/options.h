// The extension's options: settings of the extension itself, not of a source, set with
// Twain.SetOption and read with Twain.GetOption. They belong to the instance record, need no
// connection, hold from the call that sets them until another sets them or the host unloads
// the extension (across Twain.Disconnect and Twain.Connect), and start at their defaults.
//
// Each option is one row of the table in options.cpp and one name here: a word option takes
// one of its words (exact, upper case), a number option a whole number in its range; a
// read-only option is one the extension sets itself (what a scan did), and Twain.SetOption
// answers 11 for it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/blank_meter.h"
#include "record/globals.h"
#include "twain/dsm_platform.h"

// The options, in the table's order.
enum class Option : uint8_t {
  kTransfer,     // how Twain.ScanPages transfers its pages
  kCompression,  // what a memory transfer asks the source to compress
  // The files Twain.ScanPages encodes itself.
  kJpegQuality,  // of JPEG files and of a PDF's JPEG pages, 1 to 100
  kPdfImages,    // how a PDF's grey and colour pages are compressed
  // ---- the PDFs the extension writes
  kPdfA,      // whether a PDF is written as an archival PDF (PDF/A-2b)
  kPdfTitle,  // texts of the document information (and of an archival PDF's metadata)
  kPdfAuthor,
  kPdfSubject,
  kPdfKeywords,
  // ---- blank pages (pages/blank_pages.h, image/blank_meter.h)
  kBlankPages,  // whether Twain.ScanPages keeps or leaves out blank pages
  kBlankInk,    // the most ink a blank page holds, in kBlankInkUnits of its pixels
  // ---- files
  kWriter,     // who writes Twain.ScanToFile's TIFF, JPEG, PNG and PDF: the source or the extension
  kExisting,   // what a scan does with an existing file of its name (a numbered series: any member)
  kDiscarded,  // read only: the pages the last Twain.ScanPages left out as blank
  kPages,      // read only, a text: what each page of the last Twain.ScanPages was (pages/page_log.h)
  // ---- the scan's wait
  kReadyWait,  // Mac, without the source's interface: seconds a silent source is waited for
  // ---- the source manager (twain/dsm_platform.h)
  kDsm,       // Windows: the manager the next binding loads
  kDsmInUse,  // read only: the manager loaded now
  // ---- where the record's calls are carried out (entry/worker_port.h)
  kIsolation,   // Windows: in process, or in a worker process
  kSources,     // the widths of the sources the record reaches (the 64-bit build: 32-bit ones too)
  kWorkerWait,  // Windows: seconds a worker may take no message before it counts as stopped
  // ---- the feeder (Twain.ScanPages)
  kPaperSource,   // the feeder, the glass, or whichever holds paper
  kWaitForPaper,  // seconds an empty feeder is waited for before the batch gives up
  // ---- documents (pages/documents.h)
  kSeparation,  // what ends a document of Twain.ScanPages: nothing, a blank sheet, a patch sheet
  kDocuments,   // read only: the documents the last Twain.ScanPages wrote
};
constexpr int kOptionCount = 25;
// The text options the host sets (PDFTITLE to PDFKEYWORDS): how many, and the longest text
// each takes. PAGES, the text the extension sets itself, is none of them.
constexpr int kTextOptionCount = 4;
constexpr int kOptionTextMost = 255;
// The most characters of PAGES: the longest text the host's value services carry (their
// lengths are 16-bit).
constexpr size_t kPagesTextMost = 32767;

// The words of the word options, as their rows list them.
enum TransferWord : int32_t { kTransferNative, kTransferMemory, kTransferAuto };
enum CompressionWord : int32_t { kCompressionNone, kCompressionJpeg };
enum PdfImagesWord : int32_t { kPdfImagesJpeg, kPdfImagesLossless };
enum PdfAWord : int32_t { kPdfANone, kPdfA2B };
enum BlankPagesWord : int32_t { kBlankPagesKeep, kBlankPagesDiscard };
enum WriterWord : int32_t { kWriterSource, kWriterExtension };
enum ExistingWord : int32_t { kExistingReplace, kExistingRefuse };
// In the order of ManagerChoice and BoundManager.
enum DsmWord : int32_t { kDsmTwain32, kDsmTwainDsm, kDsmAuto };
enum DsmInUseWord : int32_t { kDsmInUseNone, kDsmInUseTwain32, kDsmInUseTwainDsm };
enum IsolationWord : int32_t { kIsolationNone, kIsolationProcess };
enum SourcesWord : int32_t { kSourcesAuto, kSourcesOwn, kSources32Bit };
enum PaperSourceWord : int32_t { kPaperSourceAuto, kPaperSourceFeeder, kPaperSourceFlatbed };
enum SeparationWord : int32_t { kSeparationNone, kSeparationBlankSheet, kSeparationPatchCode };
// The option DSM of g, as the binding takes it.
ManagerChoice ManagerChoiceOf(const TwainGlobals* g);

// One option: its name, and either its words (a word option; null for a number option) or
// the range of its numbers, its default (a word's place in the list, or a number) and
// whether the host may set it. A number option keeps its number times `scale`: with a scale
// above 1 it takes a real number (rounded to 1/scale), else a whole one; its range and
// default are in those units. A text option (`text`) keeps the host's text as it came, in
// the platform's character set: at most `most` characters, without control characters other
// than tab, line feed and carriage return; it starts empty.
struct OptionRow {
  const char* name;
  const char* const* words;  // ends with null
  int32_t least;
  int32_t most;
  int32_t initial;
  bool readOnly;
  int32_t scale = 1;
  bool text = false;
};

// The option's value for g: a word option's word as its place in the list, or the number.
int32_t OptionValue(const TwainGlobals* g, Option option);
// Sets a value the extension decides itself (a read-only option), or any option's value.
void StoreOptionValue(const TwainGlobals* g, Option option, int32_t value);
// A text option's text for g ("" for any other option), and setting it (false: no memory).
std::string OptionText(const TwainGlobals* g, Option option);
bool StoreOptionText(const TwainGlobals* g, Option option, const std::string& text);
// Whether the option is a text option; the text options the host sets, in the table's order,
// are the kTextOptionCount from kPdfTitle, and PAGES is one too.
bool OptionTakesText(Option option);
// Whether a text option takes `text` (its length, its characters).
bool OptionTakesTextValue(const OptionRow& row, const char* text);
// DSMINUSE: the manager loaded now, for whichever instance bound it.
void NoteManagerInUse(const TwainGlobals* g);
// Whether the extension sets the option itself (the host may not).
bool OptionReadOnly(Option option);
// Every option of g back to its default (a new record, or the record's end).
void ForgetOptions(const TwainGlobals* g);

// How a row takes what the host passes: a word's place in the row's list, or -1 when the
// text is none of them; whether a number is one the row takes.
int32_t OptionWordIndex(const OptionRow& row, const char* text);
bool OptionTakesNumber(const OptionRow& row, HostFloat value);
// The number the row keeps for `value` (one it takes).
int32_t OptionUnits(const OptionRow& row, HostFloat value);

// Twain.SetOption and Twain.GetOption: the pairs in order, the first failing pair ending the
// call. 0; 3 for a missing first parameter or a picture; 9 for a name that is no option; 10
// for a value the option does not take; 11 for setting a read-only option.
int16_t DoSetOption(TwainGlobals* g);
int16_t DoGetOption(TwainGlobals* g);
