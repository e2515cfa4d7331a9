// Stands for LuCI's luci.js (luci-base, /www/luci-static/resources/luci.js):
// only what a status include uses, as LuCI's documentation fixes it. L.require
// loads a class file, hands it the classes its 'require NAME' lines name
// and instantiates the class it returns; baseclass is LuCI's Class; E() is
// dom.create, which appends its children by dom.append's rule; _() is the
// translation, which in English gives the text back.
(function() {
	'use strict';

	var classes = {};

	// baseclass.extend(properties): a constructor whose instances have the
	// properties; LuCI's instantiates only such constructors.
	var baseclass = function() {};
	baseclass.extend = function(properties) {
		var subclass = function() {};
		subclass.prototype = Object.assign(Object.create(this.prototype), properties);
		subclass.extend = baseclass.extend;
		return subclass;
	};
	classes.baseclass = Promise.resolve(baseclass);

	// dom.append: an array's items are appended as nodes, or as text nodes
	// of their strings; a node is appended; anything else becomes markup,
	// added to the node's innerHTML. (A function's result, appended too,
	// is left out: an include that needs it fails here.)
	function append(node, children) {
		if (Array.isArray(children)) {
			children.forEach(function(child) {
				if (child instanceof Node)
					node.appendChild(child);
				else if (child != null)
					node.appendChild(document.createTextNode(String(child)));
			});
		}
		else if (typeof(children) == 'function')
			throw new TypeError('E(): the stand-in appends no function');
		else if (children instanceof Node)
			node.appendChild(children);
		else if (children != null)
			node.innerHTML += String(children);
		return node;
	}

	// E(tag, [attributes], [children]): dom.create for a tag name, with
	// string attributes (the only kind the stand-in sets).
	window.E = function(tag, attributes, children) {
		var node = document.createElement(tag);
		if (attributes == null || typeof(attributes) != 'object' ||
		    Array.isArray(attributes) || attributes instanceof Node) {
			children = attributes;
			attributes = {};
		}
		Object.keys(attributes).forEach(function(key) {
			if (typeof(attributes[key]) != 'string')
				throw new TypeError('E(): the stand-in sets only string attributes');
			node.setAttribute(key, attributes[key]);
		});
		return append(node, children);
	};

	window._ = function(text) { return text; };

	// The 'use strict' and 'require NAME [as ALIAS]' strings that open a class
	// file, up to the first line that is neither.
	function directives(source) {
		var names = [], aliases = [], lines = source.split('\n');
		for (var i = 0; i < lines.length; i++) {
			var m = /^\s*'([^']*)';\s*$/.exec(lines[i]);
			if (!m) {
				if (/\S/.test(lines[i]))
					break;
				continue;
			}
			var r = /^require\s+(\S+)(?:\s+as\s+(\S+))?$/.exec(m[1]);
			if (r) {
				names.push(r[1]);
				aliases.push(r[2] || r[1].replace(/[^a-zA-Z0-9_]/g, '_'));
			}
			else if (m[1] != 'use strict')
				break;
		}
		return { names: names, aliases: aliases };
	}

	// The class file NAME (dots for slashes) under L.env.base_url, or under
	// L.env.stand_in_url for the classes of LuCI's this test stands in for.
	function load(name) {
		var root = L.env.stand_ins.indexOf(name) >= 0 ? L.env.stand_in_url : L.env.base_url;
		var url = root + '/' + name.replace(/\./g, '/') + '.js';
		var request = new XMLHttpRequest();
		request.open('GET', url, false);
		request.send();
		if (request.status != 0 && request.status != 200 || request.responseText == '')
			throw new Error('cannot load class file ' + url);
		var source = request.responseText, deps = directives(source);
		return Promise.all(deps.names.map(L.require)).then(function(instances) {
			var factory = new Function(['window', 'document', 'L'].concat(deps.aliases).join(', '), source);
			var made = factory.apply(factory, [window, document, L].concat(instances));
			if (typeof(made) != 'function' || !(made.prototype instanceof baseclass))
				throw new TypeError('"' + name + '" factory yields invalid constructor');
			return new made();
		});
	}

	window.L = {
		env: { base_url: '', stand_in_url: '', stand_ins: [] },

		require: function(name) {
			if (!classes[name])
				classes[name] = Promise.resolve().then(function() { return load(name); });
			return classes[name];
		},

		resolveDefault: function(value, fallback) {
			return Promise.resolve(value).catch(function() { return fallback; });
		},

		isObject: function(value) {
			return value != null && typeof(value) == 'object';
		}
	};
})();
