// Our JSON parser and writer against RapidJSON (DOM) and nlohmann/json on the same documents,
// in one run. Documents come from --data=DIR, else $RZ_JSON_DATA; tools/bench.sh makes them
// with bench/make_json_documents.py.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "RZBase_Source/Json/RAZududeRqJsonParser.h"
#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"

namespace {

const char* const kDocuments[] = {"numbers", "catalog", "messages"};

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void registerDocument(const std::string& name, const std::string& text) {
    auto bytes = static_cast<std::int64_t>(text.size());

    benchmark::RegisterBenchmark(("parse/ours/" + name).c_str(), [=](benchmark::State& state) {
        for (auto _ : state) {
            RAZududeRqJsonParser parser;
            auto value = parser.objectWithString(text);
            if (!value) {
                state.SkipWithError("parse failed");
                break;
            }
            benchmark::DoNotOptimize(value);
        }
        state.SetBytesProcessed(bytes * state.iterations());
    });
    benchmark::RegisterBenchmark(("parse/rapidjson/" + name).c_str(), [=](benchmark::State& state) {
        for (auto _ : state) {
            rapidjson::Document document;
            document.Parse(text.c_str(), text.size());
            benchmark::DoNotOptimize(document);
        }
        state.SetBytesProcessed(bytes * state.iterations());
    });
    benchmark::RegisterBenchmark(("parse/nlohmann/" + name).c_str(), [=](benchmark::State& state) {
        for (auto _ : state) {
            auto document = nlohmann::json::parse(text);
            benchmark::DoNotOptimize(document);
        }
        state.SetBytesProcessed(bytes * state.iterations());
    });

    auto ours = std::make_shared<platform::Value>(*RAZududeRqJsonParser().objectWithString(text));
    benchmark::RegisterBenchmark(("write/ours/" + name).c_str(), [=](benchmark::State& state) {
        for (auto _ : state) {
            RAZududeRqJsonWriter writer;
            auto written = writer.stringWithObject(*ours);
            benchmark::DoNotOptimize(written);
        }
        state.SetBytesProcessed(bytes * state.iterations());
    });
    auto rapid = std::make_shared<rapidjson::Document>();
    rapid->Parse(text.c_str(), text.size());
    benchmark::RegisterBenchmark(("write/rapidjson/" + name).c_str(), [=](benchmark::State& state) {
        for (auto _ : state) {
            rapidjson::StringBuffer buffer;
            rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
            rapid->Accept(writer);
            benchmark::DoNotOptimize(buffer.GetString());
        }
        state.SetBytesProcessed(bytes * state.iterations());
    });
    auto lohmann = std::make_shared<nlohmann::json>(nlohmann::json::parse(text));
    benchmark::RegisterBenchmark(("write/nlohmann/" + name).c_str(), [=](benchmark::State& state) {
        for (auto _ : state) {
            auto written = lohmann->dump();
            benchmark::DoNotOptimize(written);
        }
        state.SetBytesProcessed(bytes * state.iterations());
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path data;
    if (const char* fromEnvironment = std::getenv("RZ_JSON_DATA")) {
        data = fromEnvironment;
    }
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument.starts_with("--data=")) {
            data = std::string(argument.substr(7));
        } else {
            rest.push_back(argv[i]);
        }
    }
    for (const char* name : kDocuments) {
        const auto path = data / (std::string(name) + ".json");
        std::string text = readFile(path);
        if (text.empty()) {
            std::cerr << "cannot read " << path
                      << " (use --data=DIR or RZ_JSON_DATA; bench/make_json_documents.py DIR "
                         "makes them)\n";
            return 1;
        }
        if (!RAZududeRqJsonParser().objectWithString(text)) {
            std::cerr << "our parser refuses " << path << "\n";
            return 1;
        }
        registerDocument(name, text);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data())) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
