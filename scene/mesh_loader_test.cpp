#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>

namespace scene {
namespace {

constexpr float kTol = 1e-4f;

std::string testMesh(const char* name) {
    return (std::filesystem::path(__FILE__).parent_path() / "testdata" / name).string();
}

void expectNear(glm::vec3 actual, glm::vec3 expected) {
    EXPECT_NEAR(actual.x, expected.x, kTol);
    EXPECT_NEAR(actual.y, expected.y, kTol);
    EXPECT_NEAR(actual.z, expected.z, kTol);
}

MeshBuilder newBuilder() { return CreateMeshBuilder(Direct3DRMCreate(CreateRoot())); }

// The side the corners' clockwise order marks as the front.
glm::vec3 frontOf(const Triangle& t) {
    return glm::normalize(glm::cross(t.p[1] - t.p[0], t.p[2] - t.p[0]));
}

// cube.x: a cube of side 2, stretched twice along x by an inner frame and moved to
// (10, 20, 30) by the outer one; red, with a green glowing top.
TEST(MeshLoading, CubeComesFlattenedAndColouredInTheFilesOwnLeftHandedNumbers) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("cube.x")));
    ASSERT_EQ(mesh->triangles.size(), 12u);   // six quads, two triangles each
    EXPECT_EQ(mesh->version, 1u);

    const glm::vec3 centre(10, 20, 30);
    glm::vec3 low(1e9f), high(-1e9f);
    for (const Triangle& t : mesh->triangles) {
        for (const glm::vec3& p : t.p) {
            low = glm::min(low, p);
            high = glm::max(high, p);
        }
        // Faces run clockwise seen from outside, and every corner normal leans outwards.
        const glm::vec3 middle = (t.p[0] + t.p[1] + t.p[2]) / 3.0f;
        EXPECT_GT(glm::dot(frontOf(t), middle - centre), 0.0f);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(glm::length(t.n[k]), 1.0f, kTol);
            EXPECT_GT(glm::dot(t.n[k], t.p[k] - centre), 0.0f);
        }
    }
    expectNear(low, {8, 19, 29});
    expectNear(high, {12, 21, 31});

    // Each triangle takes its material's colour and glow.
    int red = 0, green = 0;
    for (const Triangle& t : mesh->triangles) {
        const bool onTop = t.p[0].y > 20.5f && t.p[1].y > 20.5f && t.p[2].y > 20.5f;
        if (onTop) {
            ++green;
            expectNear(t.color, {0, 1, 0});
            expectNear(t.emissive, {0.5f, 0.5f, 0});
        } else {
            ++red;
            expectNear(t.color, {1, 0, 0});
            expectNear(t.emissive, {0, 0, 0});
        }
    }
    EXPECT_EQ(green, 2);
    EXPECT_EQ(red, 10);
}

// tetrahedron.x carries normals of its own (one per corner, the corner at (0, 0, 1) has
// (0, 0, 1)); they must come through as written, not mirrored.
TEST(MeshLoading, NormalsWrittenInTheFileAreKept) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("tetrahedron.x")));
    ASSERT_EQ(mesh->triangles.size(), 4u);
    int cornersOnZ = 0;
    for (const Triangle& t : mesh->triangles) {
        expectNear(t.color, {0, 0, 1});
        for (int k = 0; k < 3; ++k)
            if (glm::length(t.p[k] - glm::vec3(0, 0, 1)) < kTol) {
                ++cornersOnZ;
                expectNear(t.n[k], {0, 0, 1});
            }
    }
    EXPECT_EQ(cornersOnZ, 3);
}

TEST(MeshLoading, ALaterLoadReplacesTheMesh) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("cube.x")));
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("tetrahedron.x")));
    EXPECT_EQ(mesh->triangles.size(), 4u);
    EXPECT_EQ(mesh->version, 2u);
}

class UnreadableMeshTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UnreadableMeshTest, LeavesANewBuilderEmpty) {
    MeshBuilder mesh = newBuilder();
    EXPECT_FALSE(LoadFromFile(mesh, testMesh(GetParam())));
    EXPECT_TRUE(mesh->triangles.empty());
    EXPECT_EQ(mesh->version, 0u);
}

TEST_P(UnreadableMeshTest, LeavesAnEarlierMeshAsItWas) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("tetrahedron.x")));
    ScaleMesh(mesh, 2, 2, 2);
    const std::vector<Triangle> before = mesh->triangles;
    EXPECT_FALSE(LoadFromFile(mesh, testMesh(GetParam())));
    EXPECT_EQ(mesh->version, 2u);
    ASSERT_EQ(mesh->triangles.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(mesh->triangles[i].p[k], before[i].p[k]);
}

INSTANTIATE_TEST_SUITE_P(MeshLoading, UnreadableMeshTest,
                         ::testing::Values("no_such_mesh.x",   // missing
                                           "truncated.x",      // ends inside the vertex list
                                           "not_a_mesh.x",     // plain text, no .x header
                                           ""),                // the folder itself
                         [](const auto& info) {
                             std::string name;
                             for (const char* c = info.param; *c && *c != '.'; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name.empty() ? std::string("folder") : name;
                         });

}  // namespace
}  // namespace scene
