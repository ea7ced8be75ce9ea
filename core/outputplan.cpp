#include "outputplan.h"


namespace vardune {

std::string OutputPlan::Target(BatchWalk& walk, const VardoEntry& entry, const std::string& folder,
                               const BatchWalk::NameRules& names, const OutputLayout& layout, const TakenNames& running,
                               const OutputLayout::Tags* tags)
{
    const std::string source = entry.sourcePath + entry.sourceName;
    // One folder names outputs as the batch always has.
    if (layout.Layout() == OutputLayout::Kind::OneFolder)
        return walk.OutputPath(folder, entry.sourceName, running, names, source);
    OutputLayout::Source planned {source, entry.root, {}};
    if (tags)
        planned.tags = *tags;
    const OutputLayout::Plan plan = layout.PlanFor(planned, names);
    return walk.PlacePath(folder, [&](int number) { return plan.Relative(names, number); }, running, source);
}

std::vector<OutputPlan::File> OutputPlan::Make(const VardoList& list, const Rules& rules, const TakenNames& running,
                                               const std::function<const OutputLayout::Tags*(std::uint64_t)>& tags,
                                               const std::function<bool(std::uint64_t)>& pending, PlanReader* kept)
{
    const bool byTags = rules.layout.Layout() == OutputLayout::Kind::NamesFromTags;
    BatchWalk walk(running.Folding());
    PlanReader own;
    PlanReader& reader = kept ? *kept : own;
    if (kept)
        kept->KeepAll();
    walk.SetSomeoneElses(
        [&reader](const std::string& output, const std::string& source) { return reader.SomeoneElses(output, source); });
    walk.Start(list);
    std::vector<File> files;
    files.reserve(static_cast<std::size_t>(walk.Total()));
    while (const auto id = walk.Next(list)) {
        File file;
        file.entry = *id;
        const VardoEntry& entry = list.At(static_cast<std::size_t>(list.Find(*id)));
        // Named by its fallbacks only once the encoder has found it has no such tags.
        if (!byTags || !pending || !pending(*id)) {
            reader.Forget();
            file.target = Target(walk, entry, rules.folder, rules.names, rules.layout, running,
                                 byTags && tags ? tags(*id) : nullptr);
            file.standing = reader.Look(file.target, entry.sourcePath + entry.sourceName);
        }
        files.push_back(std::move(file));
    }
    return files;
}

} // namespace vardune
