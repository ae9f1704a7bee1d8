// The farm's rules for the commands a client sends: what each node, job and chunk command does
// to the farm. Pure over the farm; the payloads are read elsewhere.
#ifndef ZDSIM_FARMRULES_H
#define ZDSIM_FARMRULES_H

#include <string_view>

#include "FarmModel.h"

namespace zdsim {

// Traffic and connection counters restart; the start time and the node counts stay, since
// they describe the farm rather than what happened since.
void ResetCounters(Statistics& statistics);
Job* FindJob(Farm& farm, long id);
Node* FindNode(Farm& farm, long id);
// -1 (the top) or an existing folder.
bool IsFolderOrTop(const Farm& farm, long id);

void ControlNode(Farm& farm, unsigned char code, Node& node);
// False when the command's argument does not fit the job.
bool ControlJob(Farm& farm, unsigned char code, Job& job, std::string_view argument);
void ControlChunk(Farm& farm, unsigned char code, Job& job, Chunk& chunk);

}  // namespace zdsim

#endif
