#include "sim/options.h"

#include <cstdio>
#include <cstdlib>

namespace {

int usage(const char* why) {
    std::fprintf(stderr,
                 "tavi-sim: %s\nusage: tavi-sim --dir RUNDIR [--world FILE] [--set 'LINE']... "
                 "[--start X,Y,H] [--io CHARS] [--fault NAME[=ARG]] [--seed N] [--noise S] "
                 "[--slip S] [--socket PATH] [--host-dir DIR] [--rate HZ] [--duration S] "
                 "[--report PROGRAM] "
                 "[-- COMMAND [ARGS...]]\n",
                 why);
    return 2;
}

std::string with_spaces(std::string v, const char* from) {
    for (char& c : v)
        for (const char* f = from; *f != '\0'; ++f)
            if (c == *f)
                c = ' ';
    return v;
}

}  // namespace

int options_parse(int argc, char** argv, sim_options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            for (++i; i < argc; ++i)
                o->command.push_back(argv[i]);
            break;
        }
        if (i + 1 >= argc)
            return usage(("missing value for " + a).c_str());
        std::string v = argv[++i];
        if (a == "--dir")
            o->dir = v;
        else if (a == "--world")
            o->world = v;
        else if (a == "--socket")
            o->socket = v;
        else if (a == "--host-dir")
            o->host_dir = v;
        else if (a == "--report")
            o->report = v;
        else if (a == "--set")
            o->sets.push_back(v);
        else if (a == "--start")
            o->sets.push_back("start " + with_spaces(v, ","));
        else if (a == "--io")
            o->sets.push_back("io " + v);
        else if (a == "--fault")
            // NAME=ARG or NAME=ARG,AT: "wheel_blocked=both,3".
            o->sets.push_back("fault " + with_spaces(v, "=,"));
        else if (a == "--seed" || a == "--noise" || a == "--slip")
            o->sets.push_back(a.substr(2) + " " + v);
        else if (a == "--rate")
            o->rate = std::atof(v.c_str());
        else if (a == "--duration")
            o->duration = std::atof(v.c_str());
        else
            return usage(("unknown option " + a).c_str());
    }
    if (o->dir.empty())
        return usage("--dir is required");
    if (o->rate < 500 || o->rate > 20000)
        return usage("--rate must be 500..20000");
    return 0;
}
