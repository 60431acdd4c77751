// tessivo-cli: the headless commands of Tessivo.
#include "cli/bridge_command.h"
#include "cli/deliver_command.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#ifdef TESSIVO_HAS_RENDER
#include "cli/render_command.h"
#endif
#ifdef TESSIVO_HAS_DOCUMENTS
#include "fusion/fusion_command.h"
#include "lottie/lottie_command.h"
#endif

namespace {

const char* kUsage =
    "Usage : tessivo-cli COMMANDE [OPTIONS]\n"
    "  bridge [--save-to FICHIER]      messages de l'éditeur sur l'entrée standard, rappels sur la sortie\n"
    "  deliver exact|lottie|fusion|smart PARAMS.json   une livraison dans Resolve\n"
#ifdef TESSIVO_HAS_RENDER
    "  render PARAMS.json -o FICHIER   rendu d'un projet en film\n"
#endif
#ifdef TESSIVO_HAS_DOCUMENTS
    "  lottie PARAMS.json -o DOSSIER   fichiers .lottie d'une demande d'export\n"
    "  fusion PARAMS.json -o DOSSIER   fichiers .setting d'une demande d'export\n"
#endif
    ;

#ifdef TESSIVO_HAS_DOCUMENTS
// PARAMS.json -o DIR
bool documentArguments(const std::vector<std::string>& args, std::string& params, std::string& dir) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) dir = args[++i];
        else if (params.empty()) params = args[i];
        else return false;
    }
    return !params.empty() && !dir.empty();
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::cout << kUsage;
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "bridge") return tessivo::runBridgeCommand(args, std::cin, std::cout);
    if (command == "deliver") return tessivo::runDeliverCommand(args);
#ifdef TESSIVO_HAS_RENDER
    if (command == "render") return tessivo::runRenderCommand(argc - 1, argv + 1);
#endif
#ifdef TESSIVO_HAS_DOCUMENTS
    if (command == "lottie" || command == "fusion") {
        std::string params, dir;
        if (!documentArguments(args, params, dir)) {
            std::cerr << "Usage : tessivo-cli " << command << " PARAMS.json -o DOSSIER\n";
            return 2;
        }
        return command == "lottie" ? tessivo::runLottieCommand(params, dir, std::cout, std::cerr)
                                   : tessivo::runFusionCommand(params, dir, std::cout, std::cerr);
    }
#endif
    std::cerr << "Commande inconnue : " << command << "\n" << kUsage;
    return 2;
}
