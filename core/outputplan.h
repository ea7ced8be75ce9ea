#pragma once
#include "batchwalk.h"
#include "outputlayout.h"
#include "planreader.h"
#include "sizeforecast.h"
#include "takennames.h"
#include "vardolist.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vardune {

// Where a batch writes each file it takes up, and what stands there already, decided one way
// for everyone who needs to know: the batch as it starts each encoder, the window's planned
// outputs and its forecast, the command line's room check and its dry run. So they name the
// same outputs, find the same ones up to date and count the same room.
class OutputPlan {
public:
    struct Rules {
        std::string folder;         // the output folder, ending with its separator ("": the current one)
        BatchWalk::NameRules names; // the names its file system takes, learned before planning
        OutputLayout layout;
    };

    // The output path of an entry: by the layout and the names the folder takes, numbered past
    // the paths the walk gave, those an encoder writes now (running), and files standing there
    // that were not made from its source. tags: as the encoder read them; nullptr names it by
    // the fallbacks.
    static std::string Target(BatchWalk& walk, const VardoEntry& entry, const std::string& folder,
                              const BatchWalk::NameRules& names, const OutputLayout& layout, const TakenNames& running,
                              const OutputLayout::Tags* tags);


    struct File {
        std::uint64_t entry = 0;
        std::string target;  // empty: not named yet, its tags are still being read
        SizeForecast::Standing standing;
    };
    // Every entry a batch started now would take up, in its order, named as it would name
    // them, with what stands at each output now (PlanReader::Look). pending: whether an
    // entry's tags are still being read (names from tags only). kept: a reader that keeps
    // what it reads, for a batch that follows the plan at once (PlanReader::Hand).
    static std::vector<File> Make(const VardoList& list, const Rules& rules, const TakenNames& running,
                                  const std::function<const OutputLayout::Tags*(std::uint64_t)>& tags,
                                  const std::function<bool(std::uint64_t)>& pending = {}, PlanReader* kept = nullptr);
};

} // namespace vardune
