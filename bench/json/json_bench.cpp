// Reads, compact writes and formatted writes of three reference documents with the project's
// JSON layer, RapidJSON and nlohmann::json, side by side, and a read followed by queries of
// members the way a caller reads a reply; then a summary of MB/s and ratios beside their goals.
// Throughput is always counted in bytes of the input document per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <nlohmann/json.hpp>

#include "json/json_document.h"

namespace {

const char* const kDocuments[] = {"canada", "citm_catalog", "twitter"};
const char* const kOps[] = {"read", "write", "pretty", "query"};
// The document the read-and-query case runs on.
const char kQueryDocument[] = "twitter";
// Goals: at least this share of RapidJSON's speed, at least this multiple of nlohmann's.
constexpr double kGoalVsRapid = 0.8;
constexpr double kGoalVsNlohmann = 2.0;
const char* const kLibs[] = {"corvane", "rapidjson", "nlohmann"};

std::string DataDir() {
    if (const char* env = std::getenv("CORVANE_JSON_DATA"))
        return env;
    return CORVANE_JSON_DATA_DIR;
}

std::string Load(const std::string& name) {
    std::ifstream in(DataDir() + "/" + name + ".json", std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "json_bench: cannot read %s/%s.json (set CORVANE_JSON_DATA)\n",
                     DataDir().c_str(), name.c_str());
        std::exit(1);
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Count(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

// corvane -----------------------------------------------------------------------------------

void CorvaneRead(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        neb::CJsonObject doc(text);
        benchmark::DoNotOptimize(doc.IsVoid());
    }
    Count(state, text);
}

void CorvaneWrite(benchmark::State& state, const std::string& text, bool pretty) {
    neb::CJsonObject doc(text);
    for (auto _ : state) {
        std::string out = pretty ? doc.PrettyText() : doc.CompactText();
        benchmark::DoNotOptimize(out.data());
    }
    Count(state, text);
}

// Read, then per status its id, text, retweet count and the user's name and follower count.
void CorvaneQuery(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        neb::CJsonObject doc(text);
        neb::CJsonObject& statuses = doc.Member("statuses");
        const int32_t n = statuses.ArraySize();
        int64_t sum = 0;
        std::size_t bytes = 0;
        std::string s;
        for (int32_t i = 0; i < n; ++i) {
            neb::CJsonObject& status = statuses.Element(static_cast<uint32_t>(i));
            int64_t id = 0;
            int32_t retweets = 0, followers = 0;
            status.ReadInt64("id", id);
            status.ReadInt32("retweet_count", retweets);
            status.ReadString("text", s);
            bytes += s.size();
            neb::CJsonObject& user = status.Member("user");
            user.ReadString("screen_name", s);
            user.ReadInt32("followers_count", followers);
            sum += id + retweets + followers + static_cast<int64_t>(s.size());
        }
        if (n == 0)
            state.SkipWithError("no statuses");
        benchmark::DoNotOptimize(sum + static_cast<int64_t>(bytes));
    }
    Count(state, text);
}

// RapidJSON ---------------------------------------------------------------------------------

void RapidRead(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse(text.c_str());
        benchmark::DoNotOptimize(doc.HasParseError());
    }
    Count(state, text);
}

void RapidWrite(benchmark::State& state, const std::string& text, bool pretty) {
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        if (pretty) {
            rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
            writer.SetIndent('\t', 1);
            doc.Accept(writer);
        } else {
            rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
            doc.Accept(writer);
        }
        benchmark::DoNotOptimize(buffer.GetString());
    }
    Count(state, text);
}

void RapidQuery(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse(text.c_str());
        const rapidjson::Value& statuses = doc["statuses"];
        int64_t sum = 0;
        std::size_t bytes = 0;
        std::string s;
        for (const rapidjson::Value& status : statuses.GetArray()) {
            s.assign(status["text"].GetString(), status["text"].GetStringLength());
            bytes += s.size();
            const rapidjson::Value& user = status["user"];
            s.assign(user["screen_name"].GetString(), user["screen_name"].GetStringLength());
            sum += status["id"].GetInt64() + status["retweet_count"].GetInt() +
                   user["followers_count"].GetInt() + static_cast<int64_t>(s.size());
        }
        benchmark::DoNotOptimize(sum + static_cast<int64_t>(bytes));
    }
    Count(state, text);
}

// nlohmann::json ----------------------------------------------------------------------------

void NlohmannRead(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        nlohmann::json doc = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(doc.is_object());
    }
    Count(state, text);
}

void NlohmannWrite(benchmark::State& state, const std::string& text, bool pretty) {
    nlohmann::json doc = nlohmann::json::parse(text);
    for (auto _ : state) {
        std::string out = pretty ? doc.dump(1, '\t') : doc.dump();
        benchmark::DoNotOptimize(out.data());
    }
    Count(state, text);
}

void NlohmannQuery(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        nlohmann::json doc = nlohmann::json::parse(text);
        const nlohmann::json& statuses = doc.at("statuses");
        int64_t sum = 0;
        std::size_t bytes = 0;
        std::string s;
        for (const nlohmann::json& status : statuses) {
            s = status.at("text").get_ref<const std::string&>();
            bytes += s.size();
            const nlohmann::json& user = status.at("user");
            s = user.at("screen_name").get_ref<const std::string&>();
            sum += status.at("id").get<int64_t>() + status.at("retweet_count").get<int32_t>() +
                   user.at("followers_count").get<int32_t>() + static_cast<int64_t>(s.size());
        }
        benchmark::DoNotOptimize(sum + static_cast<int64_t>(bytes));
    }
    Count(state, text);
}

// Keeps every run's throughput for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end())
                continue;
            // The best of the repetitions: on a shared machine the fastest run is the one
            // least disturbed by other work.
            const bool best = run.run_type == Run::RT_Aggregate && run.aggregate_name == "max";
            if (run.run_type == Run::RT_Iteration || best)
                mbps_[run.run_name.function_name] = it->second.value / 1e6;
        }
    }

    void PrintSummary() const {
        std::printf(
            "\nMB/s of input document, best of the repetitions; ratio = corvane / peer (above 1 "
            "is faster), goal beside it\n");
        std::printf("%-14s %-7s %9s %9s %9s %15s %18s\n", "document", "op", "corvane", "rapidjson",
                    "nlohmann", "vs rapid (goal)", "vs nlohmann (goal)");
        int short_of_goal = 0;
        for (const char* doc : kDocuments) {
            for (const char* op : kOps) {
                double v[3] = {0, 0, 0};
                for (int l = 0; l < 3; ++l) {
                    auto it = mbps_.find(Name(op, doc, kLibs[l]));
                    if (it != mbps_.end())
                        v[l] = it->second;
                }
                if (v[0] == 0)
                    continue;  // filtered out
                const double vs_rapid = v[1] > 0 ? v[0] / v[1] : 0.0;
                const double vs_nlohmann = v[2] > 0 ? v[0] / v[2] : 0.0;
                const bool met = vs_rapid >= kGoalVsRapid && vs_nlohmann >= kGoalVsNlohmann;
                short_of_goal += met ? 0 : 1;
                std::printf("%-14s %-7s %9.1f %9.1f %9.1f %8.2f (%.2f) %11.2f (%.2f)  %s\n", doc,
                            op, v[0], v[1], v[2], vs_rapid, kGoalVsRapid, vs_nlohmann,
                            kGoalVsNlohmann, met ? "met" : "SHORT");
            }
        }
        std::printf("%d case(s) short of a goal\n", short_of_goal);
    }

    static std::string Name(const std::string& op, const std::string& doc, const std::string& lib) {
        return op + "/" + doc + "/" + lib;
    }

private:
    std::map<std::string, double> mbps_;
};

double Max(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

void Register(const std::map<std::string, std::string>& texts) {
    auto add = [](const std::string& name, auto fn, auto&&... args) {
        benchmark::RegisterBenchmark(name.c_str(), fn, args...)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true)
            ->ComputeStatistics("max", Max);
    };
    for (const char* doc : kDocuments) {
        const std::string& text = texts.at(doc);
        auto name = [&](const char* op, const char* lib) {
            return SummaryReporter::Name(op, doc, lib);
        };
        add(name("read", "corvane"), CorvaneRead, text);
        add(name("read", "rapidjson"), RapidRead, text);
        add(name("read", "nlohmann"), NlohmannRead, text);
        add(name("write", "corvane"), CorvaneWrite, text, false);
        add(name("write", "rapidjson"), RapidWrite, text, false);
        add(name("write", "nlohmann"), NlohmannWrite, text, false);
        add(name("pretty", "corvane"), CorvaneWrite, text, true);
        add(name("pretty", "rapidjson"), RapidWrite, text, true);
        add(name("pretty", "nlohmann"), NlohmannWrite, text, true);
        if (std::string(doc) == kQueryDocument) {
            add(name("query", "corvane"), CorvaneQuery, text);
            add(name("query", "rapidjson"), RapidQuery, text);
            add(name("query", "nlohmann"), NlohmannQuery, text);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> texts;
    for (const char* doc : kDocuments) {
        texts[doc] = Load(doc);
        // Every library must read the document, or its figures mean nothing.
        neb::CJsonObject ours(texts[doc]);
        rapidjson::Document rapid;
        rapid.Parse(texts[doc].c_str());
        if (ours.IsVoid() || rapid.HasParseError() || !nlohmann::json::accept(texts[doc])) {
            std::fprintf(stderr, "json_bench: %s does not read in every library\n", doc);
            return 1;
        }
    }
    Register(texts);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
