#include "scenes/scenes.h"


const Scene& DefaultRunScene()
{
    static const Scene scene{"default run", {}, 800, 0xa04db42ff9f7d709ull};
    return scene;
}

const Scene& RecordedRunScene()
{
    static const Scene scene{
        "recorded run", {{"Edit_size", "6"}, {"CB_migrate", "1"}, {"rb_rulette", "1"}}, 120, 0xc0d3ea17075fc8d9ull};
    return scene;
}

const Scene& LargeBatchScene()
{
    static const Scene scene{
        "large batch", {{"E_crAgs", "100000"}, {"E_crServ", "100000"}, {"E_crIndu", "100000"}}, 1, 0x4cc20827403d903bull};
    return scene;
}

std::vector<const Scene*> AllScenes()
{
    return {&DefaultRunScene(), &RecordedRunScene(), &LargeBatchScene()};
}

std::vector<std::string> RunnerArguments(const Scene& scene, bool withFinalState)
{
    std::vector<std::string> arguments{"--steps", std::to_string(scene.steps)};
    for (const ControlSetting& setting : scene.settings) {
        arguments.push_back("--set");
        arguments.push_back(setting.name + "=" + setting.text);
    }
    if (withFinalState) {
        arguments.push_back("--agents");
        arguments.push_back("--cells");
    }
    return arguments;
}

std::unique_ptr<Simulation> SetUpScene(const Scene& scene, int workers)
{
    auto sim = std::make_unique<Simulation>();
    if (workers > 0) sim->SetWorkerCount(workers);
    StartProgram(*sim, scene.settings);
    return sim;
}

std::uint64_t OutputHash(const std::string& output)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char byte : output) hash = (hash ^ byte) * 0x100000001b3ull;
    return hash;
}
