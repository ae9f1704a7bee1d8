// Template engine timings: parsing a generated cache of realistic templates next to MD5 alone
// over the same bytes, registering many templates, and hashes maps over 10,000 templates.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ZRMd5.h"
#include "ZRTemplateEngine.h"

using namespace ZRFramework::ZRTemplateManager;

namespace {

const char* const kLogics[] = {"MULTIFRAME", "SINGLE", "FRAMESLICING", "BROADCAST"};

// A template of about 3 KB shaped like the samples in examples/templates: comments, an identity
// block, two platform blocks, a logic block with nested blocks and a SUBMISSION block.
std::string MakeTemplate(int uid) {
    const std::string logic = kLogics[uid % 4];
    const std::string product = "Render Engine " + std::to_string(uid);
    std::string t;
    t += "# " + product + " - generated for the benchmark.\n";
    t += "#\n# Every node receives a chunk of frames and runs the command line assembled\n";
    t += "# from the logic block. Fields listed in SUBMISSION map to job properties.\n\n";
    t += "DECLARE TEMPLATE\n{\n";
    t += "\tSET TEMPLATE_NAME \"" + product + "\"\n";
    t += "\tSET TEMPLATE_DESC \"" + product + " frames, one chunk of frames per node\"\n";
    t += "\tSET TEMPLATE_UID " + std::to_string(uid) + "\n";
    t += "\tSET TEMPLATE_LOGIC " + logic + "\n";
    t += "\tSET TEMPLATE_VERSION " + std::to_string(uid % 7 + 1) + "\n}\n\n";
    for (const char* platform : {"ENGINE_MAC", "ENGINE_WIN"}) {
        t += std::string("DECLARE ") + platform + "\n{\n";
        t += "\tSET APPFINDER \"" + product + "\" EXECUTABLE \"engine" + std::to_string(uid) +
             "*|render\"\n";
        t += "\tMAP engine_path \"%ATTR(APPPATH)\"\n\tMAP engine_exec \"%ATTR(APPEXEC)\"\n";
        t += "\tMAP engine_root \"%BACKPATH(APPPATH,2)\"\n}\n\n";
    }
    t += "DECLARE " + logic + "\n{\n";
    t += "\tSET EXECUTABLE \"%ATTR(engine_exec)\"\n";
    t += "\tSET ARGUMENTS \"-scene \\\"%ATTR(job_file)\\\" -frames %ATTR(start_frame)-%ATTR("
         "end_frame) -step %ATTR(by_frame)%ISACTIVE(job_project ( -project "
         "\\\"%ATTR(job_project)\\\"))%ISACTIVE(output_folder ( -out "
         "\\\"%ATTR(output_folder)\\\")) %ATTR(ADD_FLAGS)\"\n";
    t += "\tSET WORKING_FOLDER \"%ATTR(job_project)\"\n\tSET CHUNK_FRAMES 5\n";
    t += "\tSET SKIP_EXISTING 0\n\n\t# Lines of the renderer's output that the node reports.\n";
    t += "\tDECLARE PROGRESS\n\t{\n\t\tSET FRAME_STARTED \"Rendering frame\"\n";
    t += "\t\tSET FRAME_DONE \"Frame written:\"\n\t\tSET PERCENT_PREFIX \"Progress:\"\n";
    t += "\t\tADD ERROR_WORDS \"ERROR:\" \"Fatal:\" \"Cannot open scene\"\n";
    t += "\t\tADD WARNING_WORDS \"Warning:\" \"missing texture\"\n\t}\n\n";
    t += "\tDECLARE EXIT_CODES\n\t{\n\t\tSET SUCCESS 0\n\t\tADD RETRY 3 75\n";
    t += "\t\tADD FAIL 1 2 4\n\t}\n}\n\n";
    t += "DECLARE SUBMISSION\n{\n";
    t += "\t# ADD field TYPE label default hint MANDATORY|OPTIONAL ACTIVABLE|FIXED\n";
    const char* const fields[][4] = {
        {"Scene", "FILE", "Scene file", "MANDATORY FIXED"},
        {"Project", "FOLDER", "Project folder", "OPTIONAL ACTIVABLE"},
        {"Output", "FOLDER", "Output folder", "OPTIONAL ACTIVABLE"},
        {"StartFrame", "INTEGER", "Start frame", "MANDATORY FIXED"},
        {"EndFrame", "INTEGER", "End frame", "MANDATORY FIXED"},
        {"ByFrame", "INTEGER", "Frame step", "OPTIONAL FIXED"},
        {"Width", "INTEGER", "Image width", "OPTIONAL FIXED"},
        {"Height", "INTEGER", "Image height", "OPTIONAL FIXED"},
        {"ExtraFlags", "STRING", "Additional flags", "OPTIONAL ACTIVABLE"},
        {"Notes", "TEXT", "Notes", "OPTIONAL FIXED"},
    };
    for (const auto& field : fields)
        t += std::string("\tADD ") + field[0] + " " + field[1] + " \"" + field[2] +
             "\" \"\" \"\" " + field[3] + "\n";
    t += "\n";
    const char* const maps[][2] = {{"job_file", "Scene"},       {"job_project", "Project"},
                                   {"output_folder", "Output"}, {"start_frame", "StartFrame"},
                                   {"end_frame", "EndFrame"},   {"by_frame", "ByFrame"},
                                   {"x_res", "Width"},          {"y_res", "Height"},
                                   {"ADD_FLAGS", "ExtraFlags"}, {"memo", "Notes"}};
    for (const auto& map : maps)
        t += std::string("\tMAP ") + map[0] + " " + map[1] + "\n";
    t += "}\n";
    return t;
}

struct Cache {
    std::vector<std::string> texts;
    int64_t bytes = 0;
};

const Cache& TemplateCache() {
    static const Cache cache = [] {
        Cache c;
        for (int uid = 1; uid <= 1000; ++uid) {
            c.texts.push_back(MakeTemplate(uid));
            c.bytes += static_cast<int64_t>(c.texts.back().size());
        }
        return c;
    }();
    return cache;
}

// Parsing includes the MD5 of each text, so MD5 alone is the floor it is measured against.
void BM_ParseCache(benchmark::State& state) {
    const Cache& cache = TemplateCache();
    zrTemplateManager* manager = zrTemplateManager::AllocateClass();
    for (auto _ : state) {
        for (const std::string& text : cache.texts) {
            zrTemplateEntry* entry = manager->Parse(text.c_str(), "bench.template", false, false);
            benchmark::DoNotOptimize(entry);
            delete entry;
        }
    }
    state.SetBytesProcessed(state.iterations() * cache.bytes);
    state.counters["templates"] = static_cast<double>(cache.texts.size());
    state.counters["avg_bytes"] = static_cast<double>(cache.bytes) / cache.texts.size();
    zrTemplateManager::DestroyClass(manager);
}
BENCHMARK(BM_ParseCache)->Unit(benchmark::kMillisecond);

void BM_Md5Cache(benchmark::State& state) {
    const Cache& cache = TemplateCache();
    unsigned char digest[16];
    char text[33];
    for (auto _ : state) {
        for (const std::string& bytes : cache.texts) {
            ZRFramework::ZRMd5::md5_state_s md5;
            ZRFramework::ZRMd5::md5_init(&md5);
            ZRFramework::ZRMd5::md5_append(&md5,
                                           reinterpret_cast<const unsigned char*>(bytes.data()),
                                           static_cast<int>(bytes.size()));
            ZRFramework::ZRMd5::md5_finish(&md5, digest);
            ZRFramework::ZRMd5::md5_string(digest, text);
            benchmark::DoNotOptimize(text);
        }
    }
    state.SetBytesProcessed(state.iterations() * cache.bytes);
}
BENCHMARK(BM_Md5Cache)->Unit(benchmark::kMillisecond);

// Templates 1 to count in the same random order for every benchmark that takes them.
std::vector<std::string> ShuffledTexts(int count) {
    std::vector<std::string> texts;
    for (int uid = 1; uid <= count; ++uid)
        texts.push_back(MakeTemplate(uid));
    std::shuffle(texts.begin(), texts.end(), std::mt19937(11));
    return texts;
}

// Registering in random UID order keeps the list sorted; the cost per template should not grow
// with the number already registered.
void BM_RegisterShuffled(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::vector<std::string> texts = ShuffledTexts(count);
    for (auto _ : state) {
        zrTemplateManager* manager = zrTemplateManager::AllocateClass();
        for (const std::string& text : texts)
            manager->Parse(text.c_str(), "bench.template", false, true);
        benchmark::DoNotOptimize(manager->GetTemplateCount());
        state.PauseTiming();
        zrTemplateManager::DestroyClass(manager);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_RegisterShuffled)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// What registering cannot avoid, for comparison at both sizes: reading each text to its end and
// keeping a copy, freed as the manager frees its templates. At 10,000 the texts and copies no
// longer fit in the caches, which sets a floor under the registration ratio.
void BM_TextCopyShuffled(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::vector<std::string> texts = ShuffledTexts(count);
    std::vector<char*> copies;
    copies.reserve(texts.size());
    for (auto _ : state) {
        for (const std::string& text : texts) {
            const size_t length = std::strlen(text.c_str());
            char* copy = new char[length + 1];
            std::memcpy(copy, text.c_str(), length + 1);
            copies.push_back(copy);
        }
        benchmark::DoNotOptimize(copies.data());
        state.PauseTiming();
        std::sort(copies.begin(), copies.end(), std::greater<char*>());
        for (char* copy : copies)
            delete[] copy;
        copies.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_TextCopyShuffled)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The cache synchronisation step: the local map from 10,000 templates, then the differences
// against the other side's map (1% edited, 0.5% new there, 0.5% gone there).
struct SyncSetup {
    zrTemplateManager* manager = nullptr;
    zrTemplateHashesMap theirs;
    std::string theirsText;
};

const SyncSetup& Sync() {
    static const SyncSetup setup = [] {
        SyncSetup s;
        s.manager = zrTemplateManager::AllocateClass();
        for (int uid = 1; uid <= 10000; ++uid)
            s.manager->Parse(MakeTemplate(uid).c_str(),
                             ("engine_" + std::to_string(uid) + ".template").c_str(), false, true);
        s.manager->MakeHashesMap(&s.theirs);
        for (int uid = 1; uid <= 10000; uid += 200)
            s.manager->UnloadTemplate(uid);  // gone here, present there
        for (auto& record : s.theirs)
            if (record.first % 100 == 7)
                record.second->SetMd5Hash("0123456789abcdef0123456789abcdef");
        for (int uid = 10001; uid <= 10050; ++uid)
            s.theirs[uid] = new zrTemplateHash(uid, "fedcba9876543210fedcba9876543210",
                                               "new_" + std::to_string(uid) + ".template");
        for (int uid = 50; uid <= 10000; uid += 200) {
            delete s.theirs[uid];
            s.theirs.erase(uid);
        }
        s.theirsText = s.manager->MarshallHashesMap(&s.theirs);
        return s;
    }();
    return setup;
}

void BM_FillAndDiff10k(benchmark::State& state) {
    const SyncSetup& sync = Sync();
    zrTemplateHashesMap theirs = sync.theirs;
    zrTemplateHashesMap changed, removed;
    for (auto _ : state) {
        sync.manager->FillInternalHashesMap();
        sync.manager->CalculateHashesDiffs(&theirs, &changed, &removed);
        benchmark::DoNotOptimize(changed.size() + removed.size());
    }
    state.counters["templates"] = sync.manager->GetTemplateCount();
    state.counters["changed"] = static_cast<double>(changed.size());
    state.counters["removed"] = static_cast<double>(removed.size());
    sync.manager->DeleteHashesMap(&changed);
    sync.manager->DeleteHashesMap(&removed);
}
BENCHMARK(BM_FillAndDiff10k)->Unit(benchmark::kMillisecond);

void BM_MarshallUnmarshall10k(benchmark::State& state) {
    const SyncSetup& sync = Sync();
    zrTemplateHashesMap theirs = sync.theirs;
    zrTemplateHashesMap back;
    for (auto _ : state) {
        const std::string text = sync.manager->MarshallHashesMap(&theirs);
        sync.manager->UnmarshallHashesMap(&back, text);
        benchmark::DoNotOptimize(back.size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sync.theirsText.size()));
    sync.manager->DeleteHashesMap(&back);
}
BENCHMARK(BM_MarshallUnmarshall10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
