#include "Bed.h"
#include "SimServer.h"

namespace {

class TcpBed : public Bed {
public:
    vexo::sim::SimulatedPrinter& sim() override { return server_.printer(); }
    Printer printer() override
    {
        return Printer(QStringLiteral("V-100"), QStringLiteral("V-100(127.0.0.1)"), QStringLiteral("Net"),
                       QStringLiteral("127.0.0.1"), 77, 0x37CE, 1, 1, false, QString());
    }
    NetworkModel::Carriers carriers() override
    {
        return {nullptr, std::make_shared<TcpCommandCarrier>(server_.port(), 1000, 300)};
    }
    void setScript(Script script) override { server_.setScript(std::move(script)); }
    std::vector<std::string> received() override { return server_.received(); }

private:
    SimServer server_;
};

}  // namespace

std::unique_ptr<Bed> makeBed() { return std::make_unique<TcpBed>(); }
