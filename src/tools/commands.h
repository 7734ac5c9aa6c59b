// The subcommands of the orvex command; each takes its own argv (argv[0]
// is the subcommand's name) and returns the exit status.
#ifndef ORVEX_TOOL_COMMANDS_H
#define ORVEX_TOOL_COMMANDS_H

namespace orvexcli {

int info_command(int argc, char **argv);
int build_command(int argc, char **argv);
int query_command(int argc, char **argv);
int render_command(int argc, char **argv);
int check_command(int argc, char **argv);
int export_command(int argc, char **argv);
int serve_command(int argc, char **argv);
int tiles_command(int argc, char **argv);

}  // namespace orvexcli

#endif
