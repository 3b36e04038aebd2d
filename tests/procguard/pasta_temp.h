// A fresh folder standing for the guardian's own folder, removed at the end of a test.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class PastaTemp {
 public:
  PastaTemp() {
    std::random_device rd;
    raiz_ = std::filesystem::temp_directory_path() /
            ("procguard_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(raiz_);
  }
  ~PastaTemp() {
    std::error_code ec;
    std::filesystem::remove_all(raiz_, ec);
  }
  PastaTemp(const PastaTemp&) = delete;
  PastaTemp& operator=(const PastaTemp&) = delete;

  // With its trailing separator, as Path_Do_Executavel gives it.
  std::string pasta() const { return raiz_.string() + "/"; }
  std::string em(const std::string& rel) const { return pasta() + rel; }

  static void gravar(const std::string& caminho, const std::string& bytes) {
    std::ofstream(caminho, std::ios::binary) << bytes;
  }
  static std::string ler(const std::string& caminho) {
    std::ifstream in(caminho, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path raiz_;
};
