// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// A bare NUL-frame echo server: the comparison for the agent's round-trip benchmark. It does what
// any server of this framing must do (split frames, write them back) and nothing else: no XML, no
// login. Usage: bench_echo_server --cert FILE --key FILE --socket PATH --ports-file FILE [--threads N]

#include <utility>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "OVLWire/FrameSplitter.h"

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

template <class Stream>
class EchoSession : public std::enable_shared_from_this<EchoSession<Stream>> {
public:
    explicit EchoSession(Stream stream)
        : m_stream(std::move(stream)), m_splitter(std::size_t{64} * 1024 * 1024) {}

    void start() {
        if constexpr (std::is_same_v<Stream, asio::ssl::stream<tcp::socket>>) {
            m_stream.async_handshake(asio::ssl::stream_base::server,
                                     [self = this->shared_from_this()](boost::system::error_code ec) {
                                         if (!ec) {
                                             self->read();
                                         }
                                     });
        } else {
            read();
        }
    }

private:
    void read() {
        auto area = m_splitter.prepare(1024);
        m_stream.async_read_some(
            asio::buffer(area.data(), area.size()),
            [self = this->shared_from_this()](boost::system::error_code ec, std::size_t n) {
                if (ec) {
                    return;
                }
                self->m_splitter.commit(n);
                self->m_out.clear();
                std::span<char> frame;
                while (self->m_splitter.next(frame) == OVL::Wire::FrameSplitter::Status::frame) {
                    self->m_out.append(frame.data(), frame.size());
                    self->m_out.push_back('\0');
                }
                if (self->m_out.empty()) {
                    return self->read();
                }
                asio::async_write(self->m_stream, asio::buffer(self->m_out),
                                  [self](boost::system::error_code e, std::size_t) {
                                      if (!e) {
                                          self->read();
                                      }
                                  });
            });
    }

    Stream m_stream;
    OVL::Wire::FrameSplitter m_splitter;
    std::string m_out;
};

}  // namespace

int main(int argc, char** argv) {
    std::string cert, key, socketPath, portsFile;
    int threads = static_cast<int>(std::thread::hardware_concurrency());
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--cert") {
            cert = argv[i + 1];
        }
        if (arg == "--key") {
            key = argv[i + 1];
        }
        if (arg == "--socket") {
            socketPath = argv[i + 1];
        }
        if (arg == "--ports-file") {
            portsFile = argv[i + 1];
        }
        if (arg == "--threads") {
            threads = std::atoi(argv[i + 1]);
        }
    }
    if (cert.empty() || key.empty() || socketPath.empty() || portsFile.empty()) {
        std::cerr << "usage: bench_echo_server --cert FILE --key FILE --socket PATH --ports-file FILE\n";
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    asio::io_context io;
    asio::ssl::context tls(asio::ssl::context::tls_server);
    tls.use_certificate_chain_file(cert);
    tls.use_private_key_file(key, asio::ssl::context::pem);

    tcp::acceptor plain(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    tcp::acceptor secure(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    ::unlink(socketPath.c_str());
    asio::local::stream_protocol::acceptor local(io, asio::local::stream_protocol::endpoint(socketPath));

    std::function<void()> acceptPlain = [&] {
        plain.async_accept(asio::make_strand(io), [&](boost::system::error_code ec, tcp::socket s) {
            if (!ec) {
                s.set_option(tcp::no_delay(true));
                std::make_shared<EchoSession<tcp::socket>>(std::move(s))->start();
            }
            acceptPlain();
        });
    };
    std::function<void()> acceptSecure = [&] {
        secure.async_accept(asio::make_strand(io), [&](boost::system::error_code ec, tcp::socket s) {
            if (!ec) {
                s.set_option(tcp::no_delay(true));
                std::make_shared<EchoSession<asio::ssl::stream<tcp::socket>>>(
                    asio::ssl::stream<tcp::socket>(std::move(s), tls))
                    ->start();
            }
            acceptSecure();
        });
    };
    std::function<void()> acceptLocal = [&] {
        local.async_accept(asio::make_strand(io), [&](boost::system::error_code ec,
                                                      asio::local::stream_protocol::socket s) {
            if (!ec) {
                std::make_shared<EchoSession<asio::local::stream_protocol::socket>>(std::move(s))->start();
            }
            acceptLocal();
        });
    };
    acceptPlain();
    acceptSecure();
    acceptLocal();
    {
        std::ofstream out(portsFile + ".tmp");
        out << "tcp 127.0.0.1 " << plain.local_endpoint().port() << "\ntls 127.0.0.1 "
            << secure.local_endpoint().port() << "\nunix " << socketPath << "\n";
    }
    std::rename((portsFile + ".tmp").c_str(), portsFile.c_str());
    asio::signal_set signals(io, SIGTERM, SIGINT);
    signals.async_wait([&](boost::system::error_code, int) { io.stop(); });
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i) {
        workers.emplace_back([&] { io.run(); });
    }
    io.run();
    for (auto& w : workers) {
        w.join();
    }
    ::unlink(socketPath.c_str());
    return 0;
}
