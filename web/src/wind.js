// Wind: a vertex shader added to the tree's materials sways every point by the tree's own maps.
// _RM_RANGE runs from -1 on old wood (trunk base, roots) to +1 on young growth; _RM_THICK is the
// thickness weight, 1 on the thinnest twigs falling to 0 on the thickest limbs; _RM_VECTORS is
// the segment's growth direction. So twigs and leaves swing while the trunk barely moves, and
// points without the maps (skeleton lines) stay still.
import * as THREE from 'three';

export const WIND_ATTRIBUTES = { _rm_range: 1, _rm_thick: 1, _rm_vectors: 3 };

const DECLARATIONS = /* glsl */ `
attribute float _rm_range;
attribute float _rm_thick;
attribute vec3 _rm_vectors;
uniform float uTime;
uniform float uStrength;
`;

// Displacement grows with the range and falls as the limb thickens (the weight falls); a slow
// gust along x carries a faster flutter across the segment's own direction, out of phase
// across the crown.
const DISPLACEMENT = /* glsl */ `
#include <begin_vertex>
{
  float reach = clamp(0.5 + 0.5 * _rm_range, 0.0, 1.0);
  float slender = clamp(_rm_thick, 0.0, 1.5);
  float amount = uStrength * reach * reach * slender * slender;
  float phase = dot(position, vec3(0.37, 0.21, 0.29));
  vec3 gust = vec3(1.0, 0.0, 0.35) * (0.6 + 0.4 * sin(uTime * 1.3 + phase));
  vec3 across = length(_rm_vectors) > 0.0 ? normalize(cross(_rm_vectors, vec3(0.0, 1.0, 0.0)) + vec3(1e-4)) : vec3(0.0);
  vec3 flutter = across * 0.35 * sin(uTime * 4.1 + 3.0 * phase);
  transformed += 0.25 * amount * (gust + flutter);
}
`;

function ensureAttributes(geometry) {
  const count = geometry.attributes.position ? geometry.attributes.position.count : 0;
  for (const [name, size] of Object.entries(WIND_ATTRIBUTES)) {
    if (!geometry.attributes[name])
      geometry.setAttribute(name, new THREE.BufferAttribute(new Float32Array(count * size), size));
  }
}

// Patches the meshes under root; keeps the time and strength of a previous tree's wind.
export function addWind(root, materials, previous) {
  const uniforms = previous ? previous.uniforms : { uTime: { value: 0 }, uStrength: { value: 0 } };
  root.traverse((o) => { if (o.isMesh) ensureAttributes(o.geometry); });
  for (const material of materials) {
    material.onBeforeCompile = (shader) => {
      shader.uniforms.uTime = uniforms.uTime;
      shader.uniforms.uStrength = uniforms.uStrength;
      shader.vertexShader = DECLARATIONS + shader.vertexShader.replace('#include <begin_vertex>', DISPLACEMENT);
    };
    material.customProgramCacheKey = () => 'ramulon-wind';
    material.needsUpdate = true;
  }
  return { uniforms };
}
