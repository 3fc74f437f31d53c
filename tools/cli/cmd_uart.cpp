// uart: the controller's serial bridge.
#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

void simple(Context &ctx, int32_t status, const std::string &what, json doc) {
  ctx.check(what, status);
  ctx.out.result(std::move(doc), "");
}

}  // namespace

void add_uart_commands(CLI::App &app, Context &ctx) {
  auto *uart = family(app, "uart", "UART bridge: open, send, receive, time-out, close");
  {
    auto *sub = uart->add_subcommand("init", "Open the UART with its configuration values");
    auto word = value<int>(), byte1 = value<int>(0), byte2 = value<int>(0);
    sub->add_option("config", *word, "Configuration word 0..65535 (the controller's meaning)")
        ->required()
        ->check(in(kWord));
    sub->add_option("byte1", *byte1, "First configuration byte")->check(in(kByte));
    sub->add_option("byte2", *byte2, "Second configuration byte")->check(in(kByte));
    sub->callback([&ctx, word, byte1, byte2] {
      int32_t status = 0;
      UART_Init(ctx.handle(), static_cast<uint16_t>(*word), static_cast<uint8_t>(*byte1),
                static_cast<uint8_t>(*byte2), &status);
      simple(ctx, status, "opening the UART",
             {{"config", *word}, {"byte1", *byte1}, {"byte2", *byte2}});
    });
  }
  {
    auto *sub = uart->add_subcommand("send", "Send up to 64 bytes (hex, or --text)");
    auto bytes = value<std::vector<std::string>>();
    auto text = value<std::string>();
    sub->add_option("bytes", *bytes, "Bytes as hex");
    sub->add_option("--text", *text, "Send this text instead");
    sub->callback([&ctx, bytes, text] {
      std::vector<uint8_t> data(text->begin(), text->end());
      const std::vector<uint8_t> hex = hex_arguments(*bytes);
      data.insert(data.end(), hex.begin(), hex.end());
      refuse_if(check(kTransferBytes, static_cast<long long>(data.size())));
      int32_t status = 0;
      UART_Write(ctx.handle(), static_cast<uint16_t>(data.size()), data.data(), &status);
      simple(ctx, status, "sending on the UART", {{"sent", to_hex(data)}});
    });
  }
  {
    auto *sub = uart->add_subcommand("receive", "Receive up to COUNT bytes (default 64)");
    auto count = value<int>(64);
    sub->add_option("count", *count, "Bytes wanted, 1..64")->check(in(kTransferBytes));
    sub->callback([&ctx, count] {
      auto wanted = static_cast<uint16_t>(*count);
      uint8_t data[64] = {}, trailer1 = 0, trailer2 = 0;
      int32_t status = 0;
      UART_Read(ctx.handle(), &wanted, data, &trailer1, &trailer2, &status);
      ctx.check("receiving on the UART", status);
      std::string hex = to_hex(data, wanted);
      std::string printable;
      for (uint16_t i = 0; i < wanted; ++i) {
        printable += (data[i] >= 32 && data[i] < 127) ? static_cast<char>(data[i]) : '.';
      }
      ctx.out.result({{"data", hex},
                      {"text", printable},
                      {"count", wanted},
                      {"trailer", {trailer1, trailer2}}},
                     wanted ? hex + "  |" + printable + "|" : "");
    });
  }
  {
    auto *sub = uart->add_subcommand("timeout", "Set the receive time-out in milliseconds");
    auto ms = value<int>();
    sub->add_option("ms", *ms, "Milliseconds 0..65535")->required()->check(in(kWord));
    sub->callback([&ctx, ms] {
      int32_t status = 0;
      UART_SetTimeOut(ctx.handle(), static_cast<uint16_t>(*ms), &status);
      simple(ctx, status, "setting the UART time-out", {{"timeout_ms", *ms}});
    });
  }
  {
    auto *sub = uart->add_subcommand("interrupt", "Send the interrupt setting byte");
    auto setting = value<int>();
    sub->add_option("setting", *setting, "Byte 0..255")->required()->check(in(kByte));
    sub->callback([&ctx, setting] {
      int32_t status = 0;
      UART_Interrupt(ctx.handle(), static_cast<uint8_t>(*setting), &status);
      simple(ctx, status, "setting the UART interrupt", {{"interrupt", *setting}});
    });
  }
  uart->add_subcommand("close", "Close the UART")->callback([&ctx] {
    int32_t status = 0;
    UART_Close(ctx.handle(), &status);
    simple(ctx, status, "closing the UART", json::object());
  });
}

static const RegisterFamily registered{50, add_uart_commands};

}  // namespace kmt::cli
