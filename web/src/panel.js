// The tool's panel, drawn from the control list the server reads from the host's panel: the
// controls outside the tabs first, then the tab set. Each control is one row keyed by its id;
// a new state only refreshes values, enabled states and texts.

const UNITS = { percent: '%', angle: '°', distance: 'm' };
const NUMERIC = new Set(['integer', 'float', 'distance', 'percent', 'angle']);

function el(tag, attrs = {}, children = []) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k.startsWith('data-') || k === 'type' || k === 'for' || k === 'id' || k === 'title') e.setAttribute(k, v);
    else e[k] = v;
  }
  for (const c of children) e.append(c);
  return e;
}

// A number as a person types it: no trailing zeros, at most six significant digits.
export function plainNumber(v) {
  if (typeof v !== 'number' || !Number.isFinite(v)) return '';
  return String(Number(v.toPrecision(6)));
}

function sliderStep(control) {
  if (control.type === 'integer') return 1;
  const r = control.range;
  const span = r ? r.max - r.min : 0;
  return span > 0 ? span / 200 : 'any';
}

function numericRow(control, handlers) {
  const field = el('div', { class: 'field' });
  const inputId = `control-${control.id}`;
  const number = el('input', {
    type: 'number', id: inputId, class: 'value-input',
    step: control.type === 'integer' ? '1' : 'any',
  });
  let slider = null;
  if (control.range && control.range.max > control.range.min) {
    slider = el('input', {
      type: 'range', class: 'value-slider',
      min: String(control.range.min), max: String(control.range.max), step: String(sliderStep(control)),
    });
    slider.setAttribute('aria-label', control.label);
    slider.addEventListener('input', () => { number.value = slider.value; });
    slider.addEventListener('change', () => handlers.onSet(control, Number(slider.value)));
    field.append(slider);
  }
  number.addEventListener('change', () => {
    if (number.value.trim() === '' || !Number.isFinite(Number(number.value))) return;
    handlers.onSet(control, Number(number.value));
  });
  field.append(number, el('span', { class: 'unit', text: UNITS[control.type] || '' }));
  const row = el('div', { class: 'control numeric' }, [el('label', { for: inputId, text: control.label }), field]);
  row.update = (c) => {
    number.value = plainNumber(c.value);
    number.disabled = !c.enabled;
    if (slider) {
      slider.value = String(c.value);
      slider.disabled = !c.enabled;
    }
    number.title = c.text || '';
    row.dataset.text = c.text || '';
  };
  return row;
}

function choiceRow(control, handlers) {
  const inputId = `control-${control.id}`;
  const select = el('select', { id: inputId, class: 'value-choice' },
    control.choices.map((name, i) => el('option', { value: String(i), text: name })));
  select.addEventListener('change', () => handlers.onSet(control, Number(select.value)));
  const row = el('div', { class: 'control choice' },
    [el('label', { for: inputId, text: control.label }), el('div', { class: 'field' }, [select])]);
  row.update = (c) => {
    select.value = String(c.value);
    select.disabled = !c.enabled;
    row.dataset.text = c.text || '';
  };
  return row;
}

function booleanRow(control, handlers) {
  const inputId = `control-${control.id}`;
  const box = el('input', { type: 'checkbox', id: inputId, class: 'value-check' });
  box.addEventListener('change', () => handlers.onSet(control, box.checked ? 1 : 0));
  const row = el('div', { class: 'control boolean' },
    [el('label', { for: inputId, text: control.label }), el('div', { class: 'field' }, [box])]);
  row.update = (c) => {
    box.checked = Number(c.value) !== 0;
    box.disabled = !c.enabled;
  };
  return row;
}

function buttonRow(control, handlers) {
  const button = el('button', { type: 'button', class: 'value-button', text: control.label });
  button.addEventListener('click', () => handlers.onPress(control));
  const row = el('div', { class: 'control button' }, [button]);
  row.update = (c) => { button.disabled = !c.enabled; };
  return row;
}

function infoRow(control) {
  const text = el('span', { class: 'info-text' });
  const row = el('div', { class: 'control info' }, control.label ? [el('span', { class: 'label', text: control.label }), text] : [text]);
  row.update = (c) => { text.textContent = c.text || (c.value == null ? '' : String(c.value)); };
  return row;
}

function plainRow(control) {
  const text = el('span', { class: 'text' });
  const row = el('div', { class: 'control' }, [el('span', { class: 'label', text: control.label }), text]);
  row.update = (c) => { text.textContent = c.text || ''; };
  return row;
}

function makeRow(control, handlers) {
  let row;
  if (control.type === 'vButton') row = buttonRow(control, handlers);
  else if (control.type === 'iPopChoice' || (control.choices && control.choices.length > 0)) row = choiceRow(control, handlers);
  else if (control.type === 'iBoolean') row = booleanRow(control, handlers);
  else if (control.type === 'sInfo') row = infoRow(control);
  else if (NUMERIC.has(control.type)) row = numericRow(control, handlers);
  else row = plainRow(control);
  row.dataset.controlId = String(control.id);
  row.dataset.controlLabel = control.label;
  row.dataset.controlType = control.type;
  const update = row.update;
  row.update = (c) => {
    update(c);
    row.classList.toggle('disabled', !c.enabled);
    row.title = c.enabled ? '' : c.disabled_text || '';
    row.dataset.enabled = String(c.enabled);
  };
  return row;
}

// Lays out one run of controls; buttons standing next to each other share a line.
function layout(container, controls, rows) {
  let buttonLine = null;
  for (const c of controls) {
    const row = rows.get(c.id);
    if (c.type === 'vButton') {
      if (!buttonLine) {
        buttonLine = el('div', { class: 'top-buttons' });
        container.append(buttonLine);
      }
      buttonLine.append(row);
    } else {
      buttonLine = null;
      container.append(row);
    }
    if (c.divider_after) {
      container.append(el('hr', { class: 'divider' }));
      buttonLine = null;
    }
  }
}

export function createPanel(root, handlers) {
  let signature = '';
  let rows = new Map();
  let selectedTab = null;
  const tabButtons = new Map();
  const tabPanels = new Map();
  const disabledNote = el('div', { class: 'disabled-text', id: 'disabled-note' });

  function selectTab(label) {
    selectedTab = label;
    for (const [name, b] of tabButtons) b.classList.toggle('selected', name === label);
    for (const [name, p] of tabPanels) p.hidden = name !== label;
  }

  function rebuild(state) {
    root.replaceChildren();
    rows = new Map();
    tabButtons.clear();
    tabPanels.clear();
    const visible = state.controls.filter((c) => !c.hidden);
    for (const c of visible) rows.set(c.id, makeRow(c, handlers));

    const top = el('div', { class: 'top-controls' });
    layout(top, visible.filter((c) => !c.tab), rows);
    const tabs = el('div', { class: 'tabs', role: 'tablist' });
    const panels = el('div', { class: 'tab-panels' });
    for (const label of state.tabs) {
      const button = el('button', { type: 'button', text: label, 'data-tab': label });
      button.setAttribute('role', 'tab');
      button.addEventListener('click', () => selectTab(label));
      tabs.append(button);
      tabButtons.set(label, button);
      const panel = el('div', { class: 'tab-panel', 'data-tab-panel': label });
      panel.setAttribute('role', 'tabpanel');
      layout(panel, visible.filter((c) => c.tab === label), rows);
      panels.append(panel);
      tabPanels.set(label, panel);
    }
    root.append(top, disabledNote, tabs, panels);
    selectTab(state.tabs.includes(selectedTab) ? selectedTab : state.tabs[0]);
  }

  return {
    update(state) {
      const sig = JSON.stringify([state.tabs, state.controls.map((c) => [c.id, c.label, c.type, c.tab, c.hidden])]);
      if (sig !== signature) {
        signature = sig;
        rebuild(state);
      }
      // Greyed controls carry their text as a tooltip; the panel says it once above the tabs.
      const notes = new Set();
      for (const c of state.controls) {
        const row = rows.get(c.id);
        if (row) row.update(c);
        if (row && !c.enabled && c.disabled_text) notes.add(c.disabled_text);
      }
      disabledNote.textContent = [...notes].join(' ');
      disabledNote.hidden = notes.size === 0;
    },
    selectTab,
  };
}
