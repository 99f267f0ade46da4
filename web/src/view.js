// The 3D view: the tree as the server's GLB gives it (one material per surface with its bark or
// leaf texture, leaves double-sided and alpha-masked, the skeleton as lines), the background
// envelope as a faint wireframe, orbit and zoom. It draws on demand, or every frame while the
// wind blows. The GLB carries the tree's levels of detail and far card as sibling nodes
// "<name>_LOD0", "<name>_LOD1", ..., "<name>_LOD_FAR"; the view shows one of them at a time.
import * as THREE from 'three';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import { MeshoptDecoder } from 'three/examples/jsm/libs/meshopt_decoder.module.js';
import { addWind } from './wind.js';

const LEAF_SURFACE = 'VF_leaf';
const LEVEL_NAME = /_LOD(\d+|_FAR)$/;

// A loader for every file the server writes, compressed ones (EXT_meshopt_compression) too.
export function createLoader() {
  return new GLTFLoader().setMeshoptDecoder(MeshoptDecoder);
}

function triangleCount(object) {
  let triangles = 0;
  object.traverse((o) => {
    if (!o.isMesh || !o.geometry) return;
    const g = o.geometry;
    triangles += (g.index ? g.index.count : g.attributes.position.count) / 3;
  });
  return triangles;
}

// The levels in a loaded scene, finest first and the far card last: { name, label, object, triangles }.
export function findLevels(root) {
  const levels = [];
  root.traverse((o) => {
    const match = LEVEL_NAME.exec(o.name || '');
    if (!match) return;
    const far = match[1] === '_FAR';
    levels.push({ name: o.name, label: far ? 'far card' : `LOD${match[1]}`, order: far ? Infinity : Number(match[1]),
                  object: o, triangles: triangleCount(o) });
  });
  return levels.sort((a, b) => a.order - b.order);
}

export function createView(container) {
  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));
  renderer.outputColorSpace = THREE.SRGBColorSpace;
  container.append(renderer.domElement);

  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x2a3035);
  const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
  camera.position.set(6, 4, 9);

  scene.add(new THREE.HemisphereLight(0xdfeaf2, 0x3b3328, 1.6));
  const sun = new THREE.DirectionalLight(0xffffff, 2.2);
  sun.position.set(5, 10, 7);
  scene.add(sun);

  const grid = new THREE.GridHelper(20, 20, 0x4d565d, 0x394046);
  scene.add(grid);

  const controls = new OrbitControls(camera, renderer.domElement);
  controls.target.set(0, 2, 0);
  controls.enableDamping = false;

  let tree = null;
  let levels = [];
  let shownLevel = 'LOD0';
  let envelope = null;
  // The camera frames the scene on the first tree and again after each new envelope.
  let needsFit = true;
  let wind = null;
  let windOn = false;
  let animating = false;
  const clock = new THREE.Clock();

  function render() {
    if (wind) wind.uniforms.uTime.value = clock.getElapsedTime();
    renderer.render(scene, camera);
    container.dataset.triangles = String(renderer.info.render.triangles);
    container.dataset.lines = String(renderer.info.render.lines);
  }

  function loop() {
    if (!windOn) {
      animating = false;
      return;
    }
    render();
    requestAnimationFrame(loop);
  }

  function resize() {
    const w = container.clientWidth || 1;
    const h = container.clientHeight || 1;
    renderer.setSize(w, h, false);
    renderer.domElement.style.width = '100%';
    renderer.domElement.style.height = '100%';
    camera.aspect = w / h;
    camera.updateProjectionMatrix();
    render();
  }
  new ResizeObserver(resize).observe(container);
  controls.addEventListener('change', () => { if (!windOn) render(); });

  // Frames the camera on a box, keeping the direction it looks from.
  function fit(box) {
    if (box.isEmpty()) return;
    const size = box.getSize(new THREE.Vector3());
    const center = box.getCenter(new THREE.Vector3());
    const radius = Math.max(size.length() / 2, 0.1);
    const distance = radius / Math.sin(THREE.MathUtils.degToRad(camera.fov / 2)) * 1.05;
    const direction = camera.position.clone().sub(controls.target).normalize();
    controls.target.copy(center);
    camera.position.copy(center).addScaledVector(direction, distance);
    camera.near = distance / 100;
    camera.far = distance * 100;
    camera.updateProjectionMatrix();
    controls.update();
  }

  function dispose(object) {
    object.traverse((o) => {
      if (o.geometry) o.geometry.dispose();
      const materials = Array.isArray(o.material) ? o.material : o.material ? [o.material] : [];
      for (const m of materials) m.dispose();
    });
  }

  function sceneBox() {
    const box = new THREE.Box3();
    if (tree) box.expandByObject(tree);
    if (envelope) box.expandByObject(envelope);
    return box;
  }

  async function showTree(glb) {
    let next = null;
    if (glb) {
      const gltf = await createLoader().parseAsync(glb, '');
      next = gltf.scene;
      const materials = new Set();
      next.traverse((o) => {
        if (!o.material) return;
        if (o.material.name === LEAF_SURFACE) o.material.side = THREE.DoubleSide;
        // The server's GLB carries no COLOR_0; a file written with --wind-colours repeats the wind
        // weights there for tools without custom attributes: data, not a tint.
        o.material.vertexColors = false;
        if (o.isMesh) materials.add(o.material);
      });
      wind = addWind(next, materials, wind);
    }
    if (tree) {
      scene.remove(tree);
      dispose(tree);
    }
    tree = next;
    levels = tree ? findLevels(tree) : [];
    applyLevel();
    if (tree) scene.add(tree);
    if (needsFit && tree) {
      fit(sceneBox());
      needsFit = false;
    }
    render();
  }

  // positions: flat [x, y, z, ...]; polygons: lists of point indices.
  function showEnvelope(data) {
    if (envelope) {
      scene.remove(envelope);
      dispose(envelope);
      envelope = null;
    }
    if (data && data.polygons && data.polygons.length > 0) {
      const p = data.positions;
      const segments = [];
      for (const poly of data.polygons) {
        for (let i = 0; i < poly.length; i += 1) {
          const a = poly[i];
          const b = poly[(i + 1) % poly.length];
          segments.push(p[3 * a], p[3 * a + 1], p[3 * a + 2], p[3 * b], p[3 * b + 1], p[3 * b + 2]);
        }
      }
      const geometry = new THREE.BufferGeometry();
      geometry.setAttribute('position', new THREE.Float32BufferAttribute(segments, 3));
      envelope = new THREE.LineSegments(geometry,
        new THREE.LineBasicMaterial({ color: 0x9fc6e0, transparent: true, opacity: 0.18, depthWrite: false }));
      envelope.name = 'envelope';
      scene.add(envelope);
    }
    needsFit = !tree;
    fit(sceneBox());
    render();
  }

  // Only the chosen level is drawn; a tree without levels is drawn whole.
  function applyLevel() {
    if (levels.length === 0) return;
    const chosen = levels.find((l) => l.label === shownLevel) || levels[0];
    for (const level of levels) level.object.visible = level === chosen;
  }

  function showLevel(label) {
    shownLevel = label;
    applyLevel();
    render();
  }

  function setWind(on) {
    windOn = on;
    if (wind) wind.uniforms.uStrength.value = on ? 1 : 0;
    if (on && !animating) {
      animating = true;
      clock.start();
      requestAnimationFrame(loop);
    } else if (!on) {
      render();
    }
  }

  resize();
  return {
    showTree, showEnvelope, setWind, render, renderer, showLevel,
    levels: () => levels.map(({ label, triangles }) => ({ label, triangles })),
    fit: () => fit(sceneBox()),
  };
}
