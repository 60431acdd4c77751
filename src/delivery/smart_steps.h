// The steps of the smart planner as the engine runs them: the timeline facts
// script through the runner, the Lottie route's clip builder and import script,
// the Exact Web route, and the render job's metrics and codec.
#pragma once

#include "delivery/smart_delivery.h"

namespace tessivo {

class ExactWebDelivery;
class LottieDelivery;
class RenderJob;

class EngineSmartSteps final : public SmartDeliverySteps {
public:
    EngineSmartSteps(EngineContext& engine, RenderJob& renderJob, LottieDelivery& lottie, ExactWebDelivery& exact)
        : engine_(engine), renderJob_(renderJob), lottie_(lottie), exact_(exact) {}

    bool isRendering() const override;
    void restartMetrics() override;
    Json metricsPayload() const override;
    std::string codecName() const override;
    void readTimelineFacts(Outcome done) override;
    void runLottie(const Json& request, const Json& sfxEvents, Outcome done) override;
    void runExactWeb(const Json& request, std::function<void(ExactWebOutcome)> done) override;

private:
    EngineContext& engine_;
    RenderJob& renderJob_;
    LottieDelivery& lottie_;
    ExactWebDelivery& exact_;
};

}  // namespace tessivo
