// Cost of a whole run against its floor, the normal deviates it draws.
#include <benchmark/benchmark.h>

#include <memory>

#include "model/model_fixtures.h"
#include "model/run_model.h"

namespace kelmar {
namespace {

class SilentNotifier : public Notifier {
public:
    void Warning(const std::string&) override {}
};

// The random draws of a 500-year simulated run: 2 + 36 x 500 normal deviates.
void BM_NormalDeviates18002(benchmark::State& state) {
    RandomSource random(12345);
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0; i < 18002; ++i) sum += random.NormalDeviate(1, 0);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_NormalDeviates18002)->Unit(benchmark::kMicrosecond);

void BM_RunModelSimulated500Years(benchmark::State& state) {
    auto model = std::make_unique<TModel>();
    model->Site = testing::WorkedSite();
    model->Climate = testing::BorealClimate();
    model->Random.SetState(12345);
    SilentNotifier notifier;
    for (auto _ : state) {
        RunModel(*model, notifier);
        benchmark::DoNotOptimize(model->Results.At(500, 12).W_ms_vol);
    }
}
BENCHMARK(BM_RunModelSimulated500Years)->Unit(benchmark::kMicrosecond);

void BM_RunModelWeatherFromFile30Years(benchmark::State& state) {
    auto model = std::make_unique<TModel>();
    model->Site = testing::WorkedSite();
    model->Climate = testing::BorealClimate();
    model->Settings.InpDat = true;
    model->Settings.YearBeg = 1961;
    model->Settings.YearEnd = 1990;
    model->Weather.FillMissing();
    for (int i = 1; i <= 30; ++i)
        for (int k = 1; k <= 12; ++k) {
            model->Weather.Tair[i][k] = model->Climate.av_Ta[k] + (i % 5) - 2;
            model->Weather.Prec[i][k] = model->Climate.av_P[k] * (0.5 + (i % 4) * 0.3);
            model->Weather.Tsoil[i][k] = (i * k) % 17 == 0 ? MISSING_VALUE : model->Climate.av_Ts[k];
        }
    SilentNotifier notifier;
    for (auto _ : state) {
        RunModel(*model, notifier);
        benchmark::DoNotOptimize(model->Results.At(30, 12).W_ms_vol);
    }
}
BENCHMARK(BM_RunModelWeatherFromFile30Years)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelmar
