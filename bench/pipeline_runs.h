// The plug-in's new-mail pass over the stand-in client, next to the classifier alone on
// the same mails.
//
// A store folder is built whose Inbox holds `inbox` messages (10 000), the last `fresh`
// (1 000) of them new corpus mails: easy-ham-2, hard-ham-1 and spam-2 mixed five, one and
// four in ten. The older ones are corpus mails already judged (the seen-message list's
// bookmark stands at the last of them). The token store has learned 1 000 mails of
// easy-ham-1 as ham and spam-1 as spam; the settings are a new installation's (no link
// scan, no sender verification, no archive). Every run starts from a copy of that folder:
//
//   classifier   `lexisift process` over the new mails' files (no link scan either)
//   pipeline     the plug-in attached through the headless client window (the Lexisift
//                server registered, Simple MAPI the stand-in's library) and one
//                ProcessNewMail: enumeration, Inbox reads, classification, deletions
//   stand-in     the same pass without the classifier, in three parts: Simple MAPI
//                enumeration with the seen-message list, the plug-in's Inbox reads, and
//                the deletion of the spam through Simple MAPI at the end
#pragma once

#include "bench/corpus_runs.h"

#include <cstddef>
#include <filesystem>
#include <string>

namespace bench {

struct PipelineOptions {
  std::filesystem::path corpus, work;
  std::string lexisift;
  size_t inbox = 10000;
  size_t fresh = 1000;
  int repeats = 3;
};

struct PipelineResult {
  double prepareSeconds = 0;
  size_t spam = 0;  // among the new mails
  // Best of the runs.
  Seconds classifier, pipeline;
  Seconds enumerate, read, remove;
  size_t pipelineDeleted = 0, standInDeleted = 0;
  long classifierRssKb = 0, pipelineRssKb = 0;
};

// Builds the folder and runs each part `repeats` times; false (having said why) when a
// part failed. Needs the Lexisift server beside `lexisift` and the stand-in's libraries.
bool RunPipeline(const PipelineOptions& options, PipelineResult& result);

void PrintPipeline(const PipelineOptions& options, const PipelineResult& result);

}  // namespace bench
